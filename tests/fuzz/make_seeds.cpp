// Writes the seed corpus of the fuzz targets (the seeds and the small
// seeds) into the folder given as the only argument.
#include <QCoreApplication>
#include <cstdio>

#include "tests/fuzz/SeedCorpus.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  QString error;
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QStringList seeds = velmora::fuzz::WriteSeedCorpus(folder, false, &error);
  if (!seeds.isEmpty()) {
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
