// Writes the seed corpus of the fuzz target into the folder given as the
// only argument.
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
  const QStringList seeds = velmora::fuzz::WriteSeedCorpus(QString::fromLocal8Bit(argv[1]), false, &error);
  if (seeds.isEmpty()) {
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    return 1;
  }
  std::printf("%d seeds\n", int(seeds.size()));
  return 0;
}
