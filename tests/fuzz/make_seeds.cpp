// Writes the seed corpus of the fuzz targets (the seeds and the small
// seeds), or the seeds of the companion-file or schema-replay target, into
// the folder given as the first argument.
#include <QCoreApplication>
#include <cstdio>

#include "tests/fuzz/SeedCorpus.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString kind = argc == 3 ? QString::fromLatin1(argv[2]) : QString();
  if (argc < 2 || argc > 3 || !(kind.isEmpty() || kind == "companions" || kind == "schema")) {
    std::fprintf(stderr, "usage: %s FOLDER [companions|schema]\n", argv[0]);
    return 2;
  }
  QString error;
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QStringList seeds = kind == "companions" ? velmora::fuzz::WriteCompanionSeeds(folder, &error)
                      : kind == "schema"   ? velmora::fuzz::WriteSchemaSeeds(folder, &error)
                                           : velmora::fuzz::WriteSeedCorpus(folder, false, &error);
  if (!seeds.isEmpty() && kind.isEmpty()) {
    const QStringList small = velmora::fuzz::WriteSmallSeeds(folder, &error);
    seeds = small.isEmpty() ? QStringList() : seeds + small;
  }
  if (seeds.isEmpty()) {
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    return 1;
  }
  std::printf("%d seeds\n", int(seeds.size()));
  return 0;
}
