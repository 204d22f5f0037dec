#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "engine/SQLiteRecovery.h"
#include "engine/SchemaRows.h"

namespace velmora::cli {

int RunList(const QStringList& args) {
  if (args.size() != 1) {
    PrintError(QStringLiteral("list takes exactly one FILE"));
    return kExitUsage;
  }
  CSQLiteRecovery engine;
  if (!OpenDamagedFile(engine, args.at(0))) return kExitFailure;
  QTextStream out(stdout);
  // The object tree's texts: a table as its name without brackets and double
  // quotes, the other objects as the name field of their schema row.
  for (const QString& name : engine.m_lstTableNames)
    out << "Tables\t" << TableTreeText(name) << '\n';
  for (const QString& row : engine.m_lstIndexRows) out << "Indexes\t" << GetField(row, 2) << '\n';
  for (const QString& row : engine.m_lstViewRows) out << "Views\t" << GetField(row, 2) << '\n';
  for (const QString& row : engine.m_lstTriggerRows)
    out << "Triggers\t" << GetField(row, 2) << '\n';
  out.flush();
  CSQLiteRecovery::CloseWorkingDatabase();
  return kExitOk;
}

}  // namespace velmora::cli
