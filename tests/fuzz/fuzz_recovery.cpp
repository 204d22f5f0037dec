// libFuzzer target: every input is a database file that the recovery scans
// and walks. Crashes, sanitizer reports, hangs and huge allocations are
// found by libFuzzer itself.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/FuzzEntry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmora::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmora::fuzz::RecoverBytes(data, size);
  return 0;
}
