// libFuzzer target for the lap-file reader: any input must give either a sound file or a
// description of the failure, in the C locale and in a locale with a decimal comma. Crashes,
// leaks, undefined behaviour and hangs are the fuzzer's to find.
//
//   laps_fuzzer [libFuzzer options] CORPUS_DIR
//
// An empty corpus directory is first filled with the seeds of the tests.
#include <QDir>
#include <QFile>
#include <QLocale>

#include <cstdint>
#include <cstdlib>

#include "tests/laps/LapFileSeeds.h"

namespace {

void SeedCorpus(const QString& dir) {
  QDir corpus(dir);
  if (!corpus.exists() || !corpus.isEmpty())
    return;
  int n = 0;
  for (const QByteArray& seed : quorvex::laps::LapFileSeeds()) {
    QFile f(corpus.filePath(QStringLiteral("seed-%1.xml").arg(n++)));
    if (f.open(QIODevice::WriteOnly))
      f.write(seed);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    if ((*argv)[i][0] != '-')
      SeedCorpus(QString::fromLocal8Bit((*argv)[i]));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
    if (!quorvex::laps::IsSoundReadResult(quorvex::laps::ParseLapFile(bytes, locale)))
      std::abort();
  }
  return 0;
}
