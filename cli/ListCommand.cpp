#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/DeletedOutput.h"
#include "output/RecoverySummary.h"
#include "output/SaveDispatch.h"
#include "output/TableExtraction.h"

namespace velmora::cli {

int RunList(const QStringList& args) {
  // --counts adds, per table, the rows from its own tree, the rows put back
  // from orphan pages and what was lost; the lost-and-found table is listed
  // with its own rows.
  // --deleted adds a "Deleted Records" line per table that has deleted
  // records, with how many are whole and how many partial.
  QStringList positional = args;
  const bool counts = positional.removeAll(QStringLiteral("--counts")) > 0;
  const bool deleted = positional.removeAll(QStringLiteral("--deleted")) > 0;
  if (positional.size() != 1) {
    PrintError(
        QStringLiteral("list takes exactly one FILE (and optionally --counts and --deleted)"));
    return kExitUsage;
  }
  if (counts || deleted) InstallStopOnInterrupt();
  CSQLiteRecovery engine;
  InterruptStop stop;
  if (!OpenDamagedFile(engine, positional.at(0), stop, deleted)) return kExitFailure;
  RecoverySummary summary;
  if (counts) summary = MakeSummary(engine, stop);
  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  // The object tree's texts: a table as its name without brackets and double
  // quotes, the other objects by their name. With --counts a table's line
  // goes on with its rows from its own tree, its rows put back from orphan
  // pages and what of it was lost ("-" when nothing).
  const std::pair<ObjectKind, const char*> categories[] = {{ObjectKind::Table, "Tables"},
                                                           {ObjectKind::Index, "Indexes"},
                                                           {ObjectKind::View, "Views"},
                                                           {ObjectKind::Trigger, "Triggers"}};
  for (const auto& [kind, caption] : categories) {
    for (const QString& name : CategoryNames(engine, kind)) {
      out << caption << '\t' << EscapeCell(ObjectTreeText(kind, name));
      const TableSummary* table =
          kind == ObjectKind::Table && counts ? summary.Table(name) : nullptr;
      if (table != nullptr) {
        const QString loss = table->HasLosses() ? table->LossText() : QStringLiteral("-");
        const bool known = table->counted || (table->inSchema && table->rootPage <= 0);
        out << '\t' << (known ? QString::number(table->rows) : QStringLiteral("?")) << '\t'
            << table->rowsFromOrphans << '\t' << EscapeCell(loss);
      }
      out << '\n';
    }
  }
  if (deleted) {
    for (const QString& name : CategoryNames(engine, ObjectKind::Deleted)) {
      std::int64_t whole = 0, partial = 0;
      CountDeleted(*FindDeletedTable(engine, name), &whole, &partial);
      out << "Deleted Records\t" << EscapeCell(name) << '\t' << whole << " whole\t" << partial
          << " partial\n";
    }
  }
  out.flush();
  if (deleted && engine.Deleted().stopped) return kExitPartial;
  if (counts && summary.stopped) {
    PrintError(QStringLiteral("stopped; the counts are incomplete"));
    return kExitPartial;
  }
  return kExitOk;
}

}  // namespace velmora::cli
