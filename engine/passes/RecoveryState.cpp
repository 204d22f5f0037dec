#include "engine/passes/RecoveryState.h"

#include <algorithm>

#include "engine/schema/WorkingDatabase.h"

namespace velmora {

RecoveryState::RecoveryState() = default;
RecoveryState::~RecoveryState() = default;

bool RecoveryState::RootRefused(std::int64_t root) const {
  return std::binary_search(refusedRoots.begin(), refusedRoots.end(), root);
}

const std::vector<RowidRange>& RecoveryState::Holes(std::int64_t root) const {
  static const std::vector<RowidRange> none;
  static const std::vector<RowidRange> everything{RowidRange{}};
  if (RootRefused(root)) return everything;
  const auto found = holes.find(root);
  return found != holes.end() ? found->second : none;
}

bool RecoveryState::WalkComplete(std::int64_t root) const {
  const auto found = walkComplete.find(root);
  return !RootRefused(root) && found != walkComplete.end() && found->second;
}

std::int64_t RecoveryState::InternalTableRoot(const QString& name) const {
  if (const SchemaObject* table = catalog.Find(SchemaKind::Table, name)) return table->rootPage;
  const auto it = internalRoots.find(name);
  return it != internalRoots.end() ? it->second : 0;
}

QStringList RecoveryState::TakenNames() const {
  QStringList taken = tableNames;
  for (const SchemaObject& object : catalog.Objects()) taken << object.name;
  for (const auto& [name, root] : internalRoots) taken << name;
  return taken;
}

WalkReport RecoveryState::Walk(std::int64_t root, ICellVisitor& visitor, IProgress& progress) {
  if (RootRefused(root)) {
    WalkReport refused;
    refused.complete = false;
    refused.pagesUnusable = 1;
    refused.holes.push_back(RowidRange{});
    holes[root] = refused.holes;
    return refused;
  }
  TreeWalk walk(source, &pages);
  WalkRules rules;
  if (root == 1 && schema.firstPageLoose) rules.firstPage = &schema.firstPage;
  WalkReport report = walk.Walk(root, visitor, progress, rules);
  if (!report.stopped) {
    holes[root] = report.holes;
    walkComplete[root] = report.complete;
  }
  return report;
}

WalkReport RecoveryState::WalkLoose(std::int64_t page, ICellVisitor& visitor,
                                    IProgress& progress) const {
  TreeWalk walk(source, nullptr);
  return walk.Walk(page, visitor, progress);
}

}  // namespace velmora
