// A set of page numbers for one walk: one bit per page, in blocks that are
// allocated only when a page in them is first added, so memory follows the
// pages actually visited rather than the page count a file claims.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace velmora {

class PageSet {
 public:
  // Adds `page`; false when it was already there (or is negative).
  bool Insert(std::int64_t page) {
    if (page < 0) return false;
    auto& block = m_blocks[page / kPagesPerBlock];
    if (!block) block = std::make_unique<std::uint64_t[]>(kWordsPerBlock);
    const std::int64_t bit = page % kPagesPerBlock;
    std::uint64_t& word = block[bit / 64];
    const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
    if ((word & mask) != 0) return false;
    word |= mask;
    return true;
  }
  void Clear() { m_blocks.clear(); }

 private:
  static constexpr std::int64_t kPagesPerBlock = 65536;  // 8 KiB of bits
  static constexpr std::int64_t kWordsPerBlock = kPagesPerBlock / 64;
  std::unordered_map<std::int64_t, std::unique_ptr<std::uint64_t[]>> m_blocks;
};

}  // namespace velmora
