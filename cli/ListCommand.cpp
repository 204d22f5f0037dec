#include <QTextStream>

#include "cli/Commands.h"
#include "engine/SQLiteRecovery.h"
#include "engine/SchemaRows.h"

namespace velmora::cli {

int RunList(const QStringList& args) {
  if (args.size() != 1) {
    PrintError(QStringLiteral("list takes exactly one FILE"));
    return kExitUsage;
  }
  CSQLiteRecovery engine;
  engine.ScanDatabase(args.at(0));
  engine.BuildWorkingDatabase();
  if (engine.m_lstTableNames.isEmpty()) {
    QTextStream(stderr) << "File Corrupted\n";
    CSQLiteRecovery::CloseWorkingDatabase();
    return kExitFailure;
  }
  QTextStream out(stdout);
  // The object tree's texts: a table as its name without brackets and double
  // quotes, the other objects as the name field of their schema row.
  for (const QString& name : engine.m_lstTableNames) {
    QString text = StripBrackets(name);
    text.remove(QLatin1Char('"'));
    out << "Tables\t" << text << '\n';
  }
  for (const QString& row : engine.m_lstIndexRows) out << "Indexes\t" << GetField(row, 2) << '\n';
  for (const QString& row : engine.m_lstViewRows) out << "Views\t" << GetField(row, 2) << '\n';
  for (const QString& row : engine.m_lstTriggerRows)
    out << "Triggers\t" << GetField(row, 2) << '\n';
  out.flush();
  CSQLiteRecovery::CloseWorkingDatabase();
  return kExitOk;
}

}  // namespace velmora::cli
