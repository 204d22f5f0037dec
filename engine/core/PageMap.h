// What each page of the file is, as the passes over the session learn it.
//
// Kept for the whole session: the session's mapping of the live trees and
// every table walk record the b-tree pages they use under the tree's root
// page, and the overflow pages of their cells; the classification pass
// (PagePasses.h) gives every other page its role. Memory follows the pages
// recorded (blocks allocated on first use): eight bytes a page at most, never
// a structure per cell.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace velmora {

enum class PageRole : std::uint8_t {
  Unknown = 0,  // not reached by any pass yet
  Btree,        // a page of the live tree whose root is Owner()
  Overflow,     // an overflow page of a cell of the tree Owner()
  FreeTrunk,    // a freelist trunk page
  FreeLeaf,     // a freelist leaf page (deleted content: never a source of rows)
  PointerMap,   // a pointer-map page of an auto-vacuum file
  Orphan,       // no live tree, freelist or pointer map holds it
  Unreadable,   // the file ends inside it
};
inline constexpr int kPageRoleCount = 8;

class PageMap {
 public:
  // Records `page` as `role` of the tree rooted at `owner`, unless it is
  // known already. True when it was recorded now, or was already recorded
  // with the same role and owner.
  bool Claim(std::int64_t page, PageRole role, std::uint32_t owner) {
    Entry* e = At(page, true);
    if (e == nullptr) return false;
    if (e->role == PageRole::Unknown) {
      e->role = role;
      e->owner = owner;
      return true;
    }
    return e->role == role && e->owner == owner;
  }
  // Records `page` as `role` of `owner` whatever it was before.
  void Set(std::int64_t page, PageRole role, std::uint32_t owner) {
    if (Entry* e = At(page, true)) {
      e->role = role;
      e->owner = owner;
    }
  }
  // Forgets `page` when it is a b-tree page of `owner`; otherwise nothing.
  void Release(std::int64_t page, std::uint32_t owner) {
    Entry* e = At(page, false);
    if (e != nullptr && e->role == PageRole::Btree && e->owner == owner) *e = Entry();
  }
  PageRole Role(std::int64_t page) const {
    const Entry* e = const_cast<PageMap*>(this)->At(page, false);
    return e != nullptr ? e->role : PageRole::Unknown;
  }
  std::uint32_t Owner(std::int64_t page) const {
    const Entry* e = const_cast<PageMap*>(this)->At(page, false);
    return e != nullptr ? e->owner : 0;
  }
  void Clear() { m_blocks.clear(); }

  // A b-tree page of a live table whose bytes a walk found to hold nothing
  // freed (an interior page, or a leaf whose free space is blank): the
  // deleted-records pass need not read it. Kept with the page's entry.
  void MarkNothingFreed(std::int64_t page) {
    if (Entry* e = At(page, false)) e->nothingFreed = true;
  }
  bool NothingFreed(std::int64_t page) const {
    const Entry* e = const_cast<PageMap*>(this)->At(page, false);
    return e != nullptr && e->nothingFreed;
  }

 private:
  struct Entry {
    std::uint32_t owner = 0;
    PageRole role = PageRole::Unknown;
    bool nothingFreed = false;  // see MarkNothingFreed
  };
  static constexpr std::int64_t kPagesPerBlock = 16384;
  Entry* At(std::int64_t page, bool create) {
    if (page <= 0) return nullptr;
    const std::int64_t key = page / kPagesPerBlock;
    auto found = m_blocks.find(key);
    if (found == m_blocks.end()) {
      if (!create) return nullptr;
      found = m_blocks.emplace(key, std::make_unique<Entry[]>(kPagesPerBlock)).first;
    }
    return &found->second[page % kPagesPerBlock];
  }
  std::unordered_map<std::int64_t, std::unique_ptr<Entry[]>> m_blocks;
};

}  // namespace velmora
