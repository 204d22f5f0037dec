#include <QFileInfo>
#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "output/SaveDispatch.h"

namespace velmora::cli {
namespace {

struct Selected {
  int kind;
  QString name;
};

// What one object's line says after its kind and name.
QString OutcomeText(int kind, const ObjectOutcome& outcome, bool* ok) {
  QString text;
  *ok = outcome.written && !outcome.stopped && outcome.error.isEmpty();
  if (outcome.written) {
    text = QStringLiteral("saved");
    if (kind == kKindTable) text += QStringLiteral(", %1 records").arg(outcome.records);
    if (outcome.stopped) text += QStringLiteral("; stopped");
    if (outcome.incomplete) text += QStringLiteral("; damaged pages skipped");
    if (!outcome.error.isEmpty()) text += QStringLiteral("; ") + outcome.error;
  } else if (outcome.stopped) {
    text = QStringLiteral("not saved: stopped");
  } else {
    text = QStringLiteral("not saved: ") + outcome.error;
  }
  return text;
}

}  // namespace

int RunSave(const QStringList& args) {
  QStringList positional;
  QList<Selected> given;
  for (int i = 0; i < args.size(); ++i) {
    const QString& arg = args.at(i);
    if (arg.startsWith(QLatin1String("--"))) {
      const int kind = KindFromWord(arg.mid(2));
      if (kind == 0 || i + 1 >= args.size()) {
        PrintError(QStringLiteral("unknown option or missing NAME: %1").arg(arg));
        return kExitUsage;
      }
      given.append({kind, args.at(++i)});
    } else {
      positional << arg;
    }
  }
  if (positional.size() != 2) {
    PrintError(QStringLiteral(
        "save takes FILE OUTDIR [--table NAME]... [--view NAME]... [--trigger NAME]... "
        "[--index NAME]..."));
    return kExitUsage;
  }
  InstallStopOnInterrupt();
  CSQLiteRecovery engine;
  if (!OpenDamagedFile(engine, positional.at(0))) return kExitFailure;

  // The Save command's order: tables, views, triggers, indexes.
  const int order[] = {kKindTable, kKindView, kKindTrigger, kKindIndex};
  QList<Selected> selection;
  for (const int kind : order) {
    if (given.isEmpty()) {
      for (const QString& name : CategoryNames(engine, kind)) selection.append({kind, name});
      continue;
    }
    for (const Selected& wanted : given) {
      if (wanted.kind != kind) continue;
      const QString name = ResolveName(engine, kind, wanted.name);
      if (name.isEmpty()) {
        PrintError(QStringLiteral("no %1 named %2").arg(KindWord(kind), wanted.name));
        CSQLiteRecovery::CloseWorkingDatabase();
        return kExitUsage;
      }
      bool twice = false;
      for (const Selected& s : selection) twice = twice || (s.kind == kind && s.name == name);
      if (!twice) selection.append({kind, name});
    }
  }

  const QString source = engine.m_strFilePath.isEmpty() ? positional.at(0) : engine.m_strFilePath;
  const QString fileName = QFileInfo(source).fileName();
  QString error;
  if (!OpenRecoveredDatabase(engine, positional.at(1), fileName, &error)) {
    PrintError(error);
    CSQLiteRecovery::CloseWorkingDatabase();
    return kExitUsage;
  }
  QString target = engine.m_strOutputFolder;
  if (!target.endsWith(QLatin1Char('/'))) target += QLatin1Char('/');
  target += fileName;

  ProgressLine progress(int(selection.size()));
  engine.m_pOwner = &progress;
  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  bool allSaved = true;
  int index = 0;
  for (const Selected& object : selection) {
    progress.SetObject(++index, object.name);
    const ObjectOutcome outcome =
        DispatchObject(engine, object.name, object.kind, true, nullptr, nullptr, nullptr, nullptr,
                       nullptr);
    progress.AddFinishedRecords(outcome.records);
    bool ok = false;
    const QString text = OutcomeText(object.kind, outcome, &ok);
    allSaved = allSaved && ok;
    progress.Clear();
    out << KindWord(object.kind) << '\t' << EscapeCell(object.name) << '\t' << EscapeCell(text)
        << '\n';
    out.flush();
  }
  CloseRecoveredDatabase();
  progress.Clear();
  engine.m_pOwner = nullptr;
  QTextStream(stderr) << (StopRequested() ? "stopped; what was saved is in " : "saved into ")
                      << target << '\n';
  CSQLiteRecovery::CloseWorkingDatabase();
  return allSaved && !StopRequested() ? kExitOk : kExitPartial;
}

}  // namespace velmora::cli
