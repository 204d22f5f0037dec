// libFuzzer target over the companion-file readers: every input packs a
// database with its write-ahead log and its rollback journal (see
// CompanionInput); the page source reads them as the library would, and the
// schema and every tree are walked over the pages they give.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/PagesEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmora::fuzz::WalkPagesWithCompanions(data, size);
  return 0;
}
