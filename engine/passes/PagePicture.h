// What the recovery made of every page of the file, one byte a page, for a
// picture of the whole file (the page map of the recovery summary).
//
// Made from the recovery state's page map once the whole-file passes ran: the live
// trees (schema, tables, indexes, their overflow pages), the freelist, the
// pointer-map and lock-byte pages, and the orphan pages as the orphan pass
// judged them (put back into their table, kept in lost and found, or left).
// An orphan page that is not a usable b-tree page, a page that no file holds
// and a cut last page are unreadable. Each page also says whether its image
// came from the write-ahead log or the rollback journal.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace velmora {

struct RecoveryState;
class IProgress;

// What a page was to the recovery. The numbers are kept in PagePicture::pages.
enum class PageUse : std::uint8_t {
  NotClassified = 0,  // the whole-file passes did not reach it (stopped)
  Schema,             // the schema tree (page 1's tree) or an overflow page of its cells
  Table,              // a table's live tree or an overflow page of its cells
  Index,              // an index's live tree (or a WITHOUT ROWID table's) or its overflow
  Freelist,           // a freelist trunk or leaf page (deleted content)
  FileStructure,      // a pointer-map page or the lock-byte page
  PutBack,            // an orphan leaf whose rows were put back into their table
  LostAndFound,       // an orphan leaf whose rows are in the lost-and-found table
  Orphan,             // a b-tree page no live tree reaches, whose rows went nowhere
  Unreadable,         // not a usable b-tree page, held by no file, or cut short
};
inline constexpr int kPageUseCount = 10;

// Flags beside the use in a page's byte: where its image came from.
inline constexpr std::uint8_t kPageUseMask = 0x0F;
inline constexpr std::uint8_t kPageFromWal = 0x40;
inline constexpr std::uint8_t kPageFromJournal = 0x80;

// One tree (or table) that pages belong to.
struct PageTree {
  QString name;       // the object: a table, an index, "sqlite_schema", the lost-and-found table
  QString tableName;  // the table it belongs to (an index's table; the table itself)
  PageUse use = PageUse::Table;
};

// The whole file, page by page.
//
//  pages      one byte per page from page 1: PageUse | kPageFromWal | kPageFromJournal
//  trees      the trees pages belong to
//  treeOf     per page (same length as pages): 1 + index into trees, 0 for none
//  pageCount  pages of the database (pages may be shorter when capped)
//  counts     pages per use, over `pages`
struct PagePicture {
  std::vector<std::uint8_t> pages;
  std::vector<std::uint32_t> treeOf;
  std::vector<PageTree> trees;
  std::int64_t pageCount = 0;
  std::int64_t counts[kPageUseCount] = {};
  std::int64_t fromCompanions = 0;  // pages whose image came from the log or the journal
  bool stopped = false;             // the progress callback asked to stop; the picture is partial

  PageUse Use(std::int64_t page) const {
    return page >= 1 && page <= std::int64_t(pages.size())
               ? static_cast<PageUse>(pages[std::size_t(page - 1)] & kPageUseMask)
               : PageUse::NotClassified;
  }
  std::uint8_t Flags(std::int64_t page) const {
    return page >= 1 && page <= std::int64_t(pages.size())
               ? static_cast<std::uint8_t>(pages[std::size_t(page - 1)] & ~kPageUseMask)
               : 0;
  }
  // The tree page `page` belongs to; null when none.
  const PageTree* Tree(std::int64_t page) const {
    if (page < 1 || page > std::int64_t(treeOf.size())) return nullptr;
    const std::uint32_t at = treeOf[std::size_t(page - 1)];
    return at > 0 && at <= trees.size() ? &trees[at - 1] : nullptr;
  }
  std::int64_t Count(PageUse use) const { return counts[static_cast<int>(use)]; }
};

// The most pages a picture holds (five bytes each): a larger file is pictured
// up to there, and pageCount says how many it has.
inline constexpr std::int64_t kMaxPicturedPages = std::int64_t(1) << 24;

// Draws the picture of the file of `state` (scanned; the working database built,
// so that the orphan pass ran). Reads the orphan pages once to tell a usable
// b-tree page from an unreadable one; `progress` is polled
// between pages, and a stop leaves the rest NotClassified.
PagePicture DrawPagePicture(const RecoveryState& state, IProgress& progress);

}  // namespace velmora
