// Detection of a page size, reserved-byte count and text encoding that the
// database header no longer gives correctly, from the pages themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace velmora {

// True when the image `page` (`pageSize` bytes, `usableSize` of them usable)
// is a well-formed b-tree page: a known type, a cell pointer array inside
// the page, a content area that starts after it and inside the usable part,
// every cell inside the content area, a first freeblock inside it and at most
// 60 fragmented bytes. `firstPage`: the b-tree header follows the 100-byte
// database header. Reads nothing outside the image.
bool IsWellFormedBtreePage(const std::uint8_t* page, std::int64_t pageSize, std::int64_t usableSize,
                           bool firstPage);

// One candidate layout and how many pages of the sample parse at it.
struct PageSizeGuess {
  std::int64_t pageSize = 0;  // 0: no candidate had a well-formed page
  std::int64_t reserved = 0;
  std::int64_t wellFormed = 0;  // well-formed pages of the sample at this layout
};

// The page size and reserved count at which the most pages of `sample` (the
// first bytes of the database file) are well-formed b-tree pages: each power
// of two from 512 to 65536, with `headerReserved` and then 0 reserved bytes.
// A page that parses at twice its size parses at its size too, so ties go to
// the smaller size, and to `headerReserved` over 0. pageSize is 0 when no
// page parses at any size.
PageSizeGuess DetectPageSize(const std::uint8_t* sample, std::int64_t sampleLength,
                             std::int64_t headerReserved);

// The number of pages of `sample` that are well-formed at that layout.
std::int64_t CountWellFormedPages(const std::uint8_t* sample, std::int64_t sampleLength,
                                  std::int64_t pageSize, std::int64_t reserved);

// Reads page `number` into the buffer (resized to the page size); false when
// there is no such page.
using PageReader = std::function<bool(std::int64_t number, std::vector<std::uint8_t>& out)>;

// The text encoding (1 UTF-8, 2 UTF-16le, 3 UTF-16be) that the schema's rows
// are written in, from the first value of each row ("table", "index",
// "view", "trigger") on page 1 and, when page 1 is an interior page, on its
// children (at most 64). 0 when no row decides it.
std::uint32_t DetectTextEncoding(const PageReader& read, std::int64_t pageSize,
                                 std::int64_t usableSize);

}  // namespace velmora
