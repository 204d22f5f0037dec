// Cell and record decoding: a cell's payload, local bytes then its overflow
// chain, read as one stream and decoded into a RecordView.
#pragma once

#include <QString>
#include <cstdint>

#include "engine/PageSource.h"
#include "engine/RecordView.h"
#include "engine/TreeWalk.h"

namespace velmora {

// How values longer than a page are kept.
enum class DecodeMode : std::uint8_t {
  Schema,   // every value held in memory (bounded by the chain that exists)
  Display,  // a long text: only its first bytes (enough for its display); a long blob: nothing
  Save,     // a long value goes to a temporary file (held in memory when PathFor gives none)
};

// Gives the save its temporary files for long values.
class ILongValueFiles {
 public:
  virtual ~ILongValueFiles() = default;
  // A path for the bytes of a value of `length` bytes; empty when the value is
  // to be held in memory (no file can be had, or the value is small enough).
  virtual QString PathFor(std::int64_t length) = 0;
};

// The bytes of a long text that its display needs: enough for 1000
// characters in any encoding (at most 4 bytes each).
inline constexpr std::int64_t kLongTextPrefixBytes = 4 * 1000 + 4;

// Decodes the cell at `offset` of the page image `page` (`pageSize` bytes,
// type `pageType`) into `view` (cleared first). Overflow pages are read from
// `source`; when `overflowPages` is given, a page already in it ends the
// chain (one walk reads each overflow page once) and is added to it; `map`
// (may be null) records the overflow pages. Reads nothing outside the page
// image and the overflow pages. Damage only shortens the record: a value
// that is cut short is marked incomplete and ends it. An interior table cell
// holds no record. `space` (the bytes up to the next cell, see PageLayout;
// -1 when unknown): when a leaf cell's payload-size varint makes the cell
// larger than that space but its own record header, read inside the space,
// gives a size that fits, the record header's size is used instead.
void DecodeCellPayload(const PageSource& source, std::uint8_t pageType, const std::uint8_t* page,
                       std::int64_t pageSize, std::int64_t offset, DecodeMode mode,
                       ILongValueFiles* files, PageSet* overflowPages, PageMap* map,
                       std::uint32_t tree, RecordView& view, std::int64_t space = -1);

}  // namespace velmora
