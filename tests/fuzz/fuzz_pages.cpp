// libFuzzer target over the engine's lower layers only: every input is a
// database image that the page source opens, the schema scan reads, and the
// tree walk and the record decoder take apart page by page. No working
// database and no event loop, so it runs many times faster than
// fuzz_recovery.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/PagesEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmora::fuzz::WalkPagesOfBytes(data, size);
  return 0;
}
