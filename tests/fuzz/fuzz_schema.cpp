// libFuzzer target over the replay of schema statements: every input is one
// schema row (see PackSchemaRow) put into a small database that is then
// scanned, replayed into the working database and saved whole.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/FuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmora::fuzz::SaveWithSchemaRow(data, size);
  return 0;
}
