#include "engine/passes/PagePicture.h"

#include <algorithm>
#include <unordered_map>

#include "engine/core/Format.h"
#include "engine/core/PageLayout.h"
#include "engine/passes/RecoveryState.h"

namespace velmora {
namespace {

// The byte offset of the lock-byte page: SQLite never writes the page that
// holds the bytes from 2^30 on.

class Painter {
 public:
  Painter(const RecoveryState& state, PagePicture& picture) : m_state(state), m_picture(picture) {}

  // The tree of root page `root`; 0 when no object names it.
  std::uint32_t TreeOfRoot(std::int64_t root) const {
    const auto it = m_roots.find(root);
    return it != m_roots.end() ? it->second : 0;
  }
  // The tree entry of table `name`, added when missing.
  std::uint32_t TreeOfTable(const QString& name) {
    for (std::size_t i = 0; i < m_picture.trees.size(); ++i)
      if (m_picture.trees[i].use == PageUse::Table && m_picture.trees[i].name == name)
        return std::uint32_t(i + 1);
    return Add(name, name, PageUse::Table);
  }
  std::uint32_t Add(const QString& name, const QString& table, PageUse use) {
    m_picture.trees.push_back(PageTree{name, table, use});
    return std::uint32_t(m_picture.trees.size());
  }
  void AddRoot(std::int64_t root, const QString& name, const QString& table, PageUse use) {
    if (root <= 0 || m_roots.count(root) != 0) return;
    m_roots[root] = Add(name, table, use);
  }

  void Trees() {
    AddRoot(1, QStringLiteral("sqlite_schema"), QStringLiteral("sqlite_schema"), PageUse::Schema);
    for (const SchemaObject& object : m_state.catalog.Objects()) {
      if (object.rootPage <= 0) continue;
      if (object.Is(SchemaKind::Table))
        AddRoot(object.rootPage, object.name, object.name, PageUse::Table);
      else if (object.Is(SchemaKind::Index))
        AddRoot(object.rootPage, object.name, object.tableName, PageUse::Index);
    }
    for (const SchemaIndexRow& index : m_state.autoIndexes)
      AddRoot(index.rootPage, index.name, index.tableName, PageUse::Index);
    for (const char* internal : {"sqlite_sequence", "sqlite_stat1", "sqlite_stat4"}) {
      const QString name = QString::fromLatin1(internal);
      AddRoot(m_state.InternalTableRoot(name), name, name, PageUse::Table);
    }
  }

 private:
  const RecoveryState& m_state;
  PagePicture& m_picture;
  std::unordered_map<std::int64_t, std::uint32_t> m_roots;
};

}  // namespace

PagePicture DrawPagePicture(const RecoveryState& state, IProgress& progress) {
  PagePicture picture;
  const PageSource& source = state.source;
  const Geometry& g = source.geometry();
  if (!source.Usable()) return picture;
  const PageMap& map = state.pages;
  // A cut last page of the file is pictured after the whole pages.
  const bool cutPage = map.Role(g.pageCount + 1) == PageRole::Unreadable;
  picture.pageCount = g.pageCount + (cutPage ? 1 : 0);
  const std::int64_t pictured = std::min(picture.pageCount, kMaxPicturedPages);
  picture.pages.assign(std::size_t(pictured), 0);
  picture.treeOf.assign(std::size_t(pictured), 0);

  Painter painter(state, picture);
  painter.Trees();
  auto set = [&picture](std::int64_t page, PageUse use, std::uint32_t tree) {
    if (page < 1 || page > std::int64_t(picture.pages.size())) return;
    std::uint8_t& byte = picture.pages[std::size_t(page - 1)];
    byte = static_cast<std::uint8_t>((byte & ~kPageUseMask) | static_cast<std::uint8_t>(use));
    picture.treeOf[std::size_t(page - 1)] = tree;
  };

  // The orphan leaves the orphan pass gave away.
  const OrphanPassResult& orphans = state.orphans;
  for (const auto& [table, back] : orphans.putBack) {
    const std::uint32_t tree = painter.TreeOfTable(table);
    for (const std::int64_t page : back.pages) set(page, PageUse::PutBack, tree);
  }
  if (!orphans.lostPages.empty()) {
    const SchemaObject* lost = nullptr;
    for (const SchemaObject& object : state.catalog.Objects())
      if (object.origin == SchemaOrigin::LostAndFound) lost = &object;
    const std::uint32_t tree = lost != nullptr ? painter.TreeOfTable(lost->name) : 0;
    for (const std::int64_t page : orphans.lostPages) set(page, PageUse::LostAndFound, tree);
  }

  const std::int64_t lockPage = format::LockBytePage(g.pageSize);
  std::vector<std::uint8_t> buffer(std::size_t(g.pageSize));
  PageLayout layout;
  for (std::int64_t page = 1; page <= pictured; ++page) {
    if ((page & 1023) == 0 && progress.Poll()) {
      picture.stopped = true;
      break;
    }
    std::uint8_t& byte = picture.pages[std::size_t(page - 1)];
    switch (source.PageOrigin(page)) {
      case PageSource::Origin::Wal:
        byte |= kPageFromWal;
        break;
      case PageSource::Origin::Journal:
        byte |= kPageFromJournal;
        break;
      default:
        break;
    }
    if ((byte & kPageUseMask) != 0) continue;  // put back or lost and found
    switch (map.Role(page)) {
      case PageRole::Btree:
      case PageRole::Overflow: {
        const std::uint32_t tree = painter.TreeOfRoot(map.Owner(page));
        set(page, tree != 0 ? picture.trees[tree - 1].use : PageUse::Table, tree);
        break;
      }
      case PageRole::FreeTrunk:
      case PageRole::FreeLeaf:
        set(page, PageUse::Freelist, 0);
        break;
      case PageRole::PointerMap:
        set(page, PageUse::FileStructure, 0);
        break;
      case PageRole::Unreadable:
        set(page, PageUse::Unreadable, 0);
        break;
      case PageRole::Orphan: {
        if (page == lockPage) {
          set(page, PageUse::FileStructure, 0);
          break;
        }
        // A b-tree page whose rows went nowhere, or no usable page at all.
        const bool usable =
            source.ReadPage(page, buffer.data()) == PageRead::Ok &&
            ParsePageLayout(buffer.data(), g.pageSize, g.usableSize, page == 1, &layout);
        set(page, usable ? PageUse::Orphan : PageUse::Unreadable, 0);
        break;
      }
      case PageRole::Unknown:
        break;
    }
  }
  for (const std::uint8_t byte : picture.pages) {
    ++picture.counts[byte & kPageUseMask];
    if ((byte & (kPageFromWal | kPageFromJournal)) != 0) ++picture.fromCompanions;
  }
  return picture;
}

}  // namespace velmora
