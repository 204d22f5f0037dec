#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "engine/SQLiteRecovery.h"
#include "output/SaveDispatch.h"
#include "output/TableExtraction.h"

namespace velmora::cli {

int RunList(const QStringList& args) {
  // --counts adds, per table, the rows from its own tree, the rows put back
  // from orphan pages and the rows kept in lost and found.
  QStringList files = args;
  const bool counts = files.removeAll(QStringLiteral("--counts")) > 0;
  if (files.size() != 1) {
    PrintError(QStringLiteral("list takes exactly one FILE (and optionally --counts)"));
    return kExitUsage;
  }
  if (counts) InstallStopOnInterrupt();
  CSQLiteRecovery engine;
  if (!OpenDamagedFile(engine, files.at(0))) return kExitFailure;
  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  // The object tree's texts: a table as its name without brackets and double
  // quotes, the other objects by their name.
  const std::pair<int, const char*> categories[] = {
      {kKindTable, "Tables"}, {kKindIndex, "Indexes"}, {kKindView, "Views"}, {kKindTrigger, "Triggers"}};
  for (const auto& [kind, caption] : categories) {
    for (const QString& name : CategoryNames(engine, kind)) {
      out << caption << '\t' << EscapeCell(ObjectTreeText(kind, name));
      if (counts && kind == kKindTable) {
        const TableRowCounts n = CountTableRows(engine, name);
        out << '\t' << n.own << '\t' << n.putBack << '\t' << n.lost;
      }
      out << '\n';
    }
  }
  out.flush();
  return kExitOk;
}

}  // namespace velmora::cli
