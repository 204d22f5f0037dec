#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "engine/SQLiteRecovery.h"
#include "output/SaveDispatch.h"

namespace velmora::cli {

int RunList(const QStringList& args) {
  if (args.size() != 1) {
    PrintError(QStringLiteral("list takes exactly one FILE"));
    return kExitUsage;
  }
  CSQLiteRecovery engine;
  if (!OpenDamagedFile(engine, args.at(0))) return kExitFailure;
  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  // The object tree's texts: a table as its name without brackets and double
  // quotes, the other objects by their name.
  const std::pair<int, const char*> categories[] = {
      {kKindTable, "Tables"}, {kKindIndex, "Indexes"}, {kKindView, "Views"}, {kKindTrigger, "Triggers"}};
  for (const auto& [kind, caption] : categories) {
    for (const QString& name : CategoryNames(engine, kind))
      out << caption << '\t' << EscapeCell(ObjectTreeText(kind, name)) << '\n';
  }
  out.flush();
  return kExitOk;
}

}  // namespace velmora::cli
