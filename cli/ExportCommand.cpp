#include <QDir>
#include <QSet>
#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "output/CsvExport.h"
#include "output/SaveDispatch.h"
#include "platform/NativeFiles.h"

namespace velmora::cli {

int RunExport(const QStringList& args) {
  QStringList positional;
  QStringList given;
  for (int i = 0; i < args.size(); ++i) {
    if (args.at(i) == QLatin1String("--table") && i + 1 < args.size()) {
      given << args.at(++i);
    } else if (args.at(i).startsWith(QLatin1String("--"))) {
      PrintError(QStringLiteral("unknown option or missing NAME: %1").arg(args.at(i)));
      return kExitUsage;
    } else {
      positional << args.at(i);
    }
  }
  if (positional.size() != 2) {
    PrintError(QStringLiteral("export takes FILE OUTDIR [--table NAME]..."));
    return kExitUsage;
  }
  // The folder is tested and made by its exact bytes (its name need not be UTF-8).
  const QDir folder(positional.at(1));
  if (NativePathExists(positional.at(1)) && !IsNativeFolder(positional.at(1))) {
    PrintError(QStringLiteral("%1 is not a folder").arg(positional.at(1)));
    return kExitUsage;
  }
  InstallStopOnInterrupt();
  CSQLiteRecovery engine;
  InterruptStop stop;
  if (!OpenDamagedFile(engine, positional.at(0), stop)) return kExitFailure;
  // A folder that does not exist yet is made, as save makes its folder.
  if (!MakeNativeFolders(positional.at(1))) {
    PrintError(QStringLiteral("The folder \"%1\" does not exist and cannot be created.")
                   .arg(positional.at(1)));
    return kExitUsage;
  }
  QStringList tables;
  for (const QString& wanted : given) {
    const QString name = ResolveName(engine, ObjectKind::Table, wanted);
    if (name.isEmpty()) {
      PrintError(QStringLiteral("no table named %1").arg(wanted));
      return kExitUsage;
    }
    if (!tables.contains(name)) tables << name;
  }
  if (given.isEmpty()) tables = CategoryNames(engine, ObjectKind::Table);

  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  SilentProgressBar noBar;  // the tool prints one line per table
  bool allWritten = true;
  QSet<QString> used;  // file names of this run, compared without case
  for (const QString& table : tables) {
    if (StopRequested()) {
      out << "table\t" << EscapeCell(table) << "\tnot exported: stopped\n";
      allWritten = false;
      continue;
    }
    // Two tables whose names give the same file name (or differ only in
    // case) get numbered names; a file that exists already is never replaced.
    QString fileName = CsvFileName(table);
    for (int n = 2; used.contains(fileName.toLower()); ++n)
      fileName = CsvFileName(table).chopped(4) + QStringLiteral(" (%1).csv").arg(n);
    used.insert(fileName.toLower());
    const QString path = folder.filePath(fileName);
    const CsvOutcome outcome = ExportTableCsv(engine, stop, table, path, false, noBar);
    QString text;
    if (!outcome.written) {
      text = QStringLiteral("not exported: ") + outcome.error;
    } else {
      text = QStringLiteral("exported, %1 rows to %2").arg(outcome.rows).arg(path);
      if (outcome.stopped) text += QStringLiteral("; stopped");
      if (outcome.incomplete) text += QStringLiteral("; damaged pages skipped");
      if (outcome.valuesCut > 0)
        text += QStringLiteral("; %1 values could not be read completely").arg(outcome.valuesCut);
      if (outcome.recordsSkipped > 0)
        text += QStringLiteral("; %1 records held more values than the table has columns")
                    .arg(outcome.recordsSkipped);
      if (!outcome.error.isEmpty()) text += QStringLiteral("; ") + outcome.error;
    }
    allWritten = allWritten && outcome.written && !outcome.stopped && outcome.error.isEmpty();
    out << "table\t" << EscapeCell(table) << '\t' << EscapeCell(text) << '\n';
    out.flush();
  }
  return allWritten ? kExitOk : kExitPartial;
}

}  // namespace velmora::cli
