// Cell and record decoding: a cell's payload, local bytes then its overflow
// chain, read as one stream and decoded into a RecordView.
#pragma once

#include <QFile>
#include <QString>
#include <cstdint>
#include <memory>

#include "engine/core/RecordView.h"
#include "engine/pages/PageSource.h"
#include "engine/pages/TreeWalk.h"

namespace velmora {

// How values longer than a page are kept.
enum class DecodeMode : std::uint8_t {
  Schema,   // every value held in memory (bounded by the chain that exists)
  Display,  // a long text: only its first bytes (enough for its display); a long blob: nothing
  Save,     // a long value is spilled (held in memory when no place is given for it)
};

// Gives the save its temporary files for long values.
class ILongValueFiles {
 public:
  virtual ~ILongValueFiles() = default;
  // A path for the bytes of a value of `length` bytes; empty when the value is
  // to be held in memory (no file can be had, or the value is small enough).
  virtual QString PathFor(std::int64_t length) = 0;
};

// Takes the bytes of the values longer than a page that the decoder does not
// hold in memory (save mode). The decoder calls Open once per such value,
// then Write for its bytes in order, then Close.
class ILongValueSpill {
 public:
  virtual ~ILongValueSpill() = default;
  // Starts a value of `length` bytes; returns where its bytes go (a path),
  // or an empty string when the value is to be held in memory instead.
  virtual QString Open(std::int64_t length) = 0;
  // Appends `size` bytes to the open value; false when they could not be kept.
  virtual bool Write(const std::uint8_t* data, std::int64_t size) = 0;
  virtual void Close() = 0;
};

// Spills long values to the temporary files an ILongValueFiles names.
class TempFileSpill : public ILongValueSpill {
 public:
  explicit TempFileSpill(ILongValueFiles* files) : m_files(files) {}
  ~TempFileSpill() override;
  QString Open(std::int64_t length) override;
  bool Write(const std::uint8_t* data, std::int64_t size) override;
  void Close() override;

 private:
  ILongValueFiles* m_files;
  std::unique_ptr<QFile> m_file;
};

// Where the pages of overflow chains are claimed.
class IOverflowClaims {
 public:
  virtual ~IOverflowClaims() = default;
  // Claims `page` for the chain being read, before it is read. False when it
  // is used already (a loop, or a chain shared by damaged cells): the chain
  // ends there.
  virtual bool ClaimOverflow(std::int64_t page) = 0;
};

// The claims of a walk: each overflow page is used once per walk (the walk's
// set of overflow pages, or this chain's own when the cell has none) and
// recorded in the page map, when the cell carries one, for the cell's tree.
class WalkOverflowClaims : public IOverflowClaims {
 public:
  explicit WalkOverflowClaims(const CellRef& cell)
      : m_used(cell.overflowPages), m_map(cell.map), m_tree(cell.tree) {}
  bool ClaimOverflow(std::int64_t page) override;

 private:
  PageSet* m_used;
  PageMap* m_map;
  std::uint32_t m_tree;
  PageSet m_own;
};

// The bytes of a long text that its display needs: enough for 1000
// characters in any encoding (at most 4 bytes each).
inline constexpr std::int64_t kLongTextPrefixBytes = 4 * 1000 + 4;

// One cell to decode: the page image `page` of `pageSize` bytes and type
// `pageType`, the cell's offset in it, and the bytes the page leaves the
// cell up to the next cell (see PageLayout; -1 when unknown).
struct CellInput {
  std::uint8_t pageType = 0;
  const std::uint8_t* page = nullptr;
  std::int64_t pageSize = 0;
  std::int64_t offset = 0;
  std::int64_t space = -1;

  static CellInput Of(const CellRef& cell) {
    return {cell.pageType, cell.page, cell.pageSize, cell.offset, cell.space};
  }
};

// Decodes `cell` into `view` (cleared first) and returns whether the record
// fits its cell (format::RecordFitsCell). Overflow pages are read from
// `source`; each is first claimed through `claims` (null: this chain's pages
// are each read once, and nothing is recorded). Values longer than a page go
// to `spill` in save mode (null, or an empty path from it: held in memory).
// Reads nothing outside the page image and the overflow pages, and writes
// nothing itself. Damage only shortens the record: a value that is cut short
// is marked incomplete and ends it. An interior table cell holds no record.
// When a leaf cell's payload-size varint makes the cell larger than its
// space but its own record header, read inside the space, gives a size that
// fits, the record header's size is used instead.
bool DecodeCellPayload(const PageSource& source, const CellInput& cell, DecodeMode mode,
                       RecordView& view, IOverflowClaims* claims = nullptr,
                       ILongValueSpill* spill = nullptr);

}  // namespace velmora
