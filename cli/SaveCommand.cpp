#include <QFileInfo>
#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "output/SaveDispatch.h"

namespace velmora::cli {
namespace {

struct Selected {
  ObjectKind kind;
  QString name;
};

// What one object's line says after its kind and name.
QString OutcomeText(ObjectKind kind, const ObjectOutcome& outcome, bool* ok) {
  QString text;
  *ok = outcome.written && !outcome.stopped && outcome.error.isEmpty();
  if (outcome.written) {
    text = QStringLiteral("saved");
    if (kind == ObjectKind::Table) text += QStringLiteral(", %1 records").arg(outcome.records);
    if (kind == ObjectKind::Table && outcome.putBack > 0)
      text += QStringLiteral(" (%1 from its own tree, %2 put back from orphan pages)")
                  .arg(outcome.records - outcome.putBack)
                  .arg(outcome.putBack);
    if (kind == ObjectKind::Table && outcome.recoveredTree)
      text += QStringLiteral(" (from orphan pages: its schema row is lost)");
    if (kind == ObjectKind::Deleted)
      text = QStringLiteral("saved as %1, %2 records (%3 whole, %4 partial)")
                 .arg(outcome.savedAs)
                 .arg(outcome.records)
                 .arg(outcome.whole)
                 .arg(outcome.records - outcome.whole);
    if (kind == ObjectKind::Table && outcome.lostAndFound)
      text += QStringLiteral(" (rows of orphan pages that fit no table, or more than one)");
    if (outcome.stopped) text += QStringLiteral("; stopped");
    if (outcome.incomplete) text += QStringLiteral("; damaged pages skipped");
    if (!outcome.error.isEmpty()) text += QStringLiteral("; ") + outcome.error;
    if (!outcome.note.isEmpty()) text += QStringLiteral("; ") + outcome.note;
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
  bool deleted = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& arg = args.at(i);
    if (arg == QLatin1String("--deleted")) {
      deleted = true;
    } else if (arg.startsWith(QLatin1String("--"))) {
      ObjectKind kind = ObjectKind::Table;
      if (!KindFromWord(arg.mid(2), &kind) || i + 1 >= args.size()) {
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
        "[--index NAME]... [--deleted]"));
    return kExitUsage;
  }
  InstallStopOnInterrupt();
  CSQLiteRecovery engine;
  InterruptStop stop;
  if (!OpenDamagedFile(engine, positional.at(0), stop, deleted)) return kExitFailure;

  QStringList names[4];  // tables, views, triggers, indexes
  const ObjectKind kinds[] = {ObjectKind::Table, ObjectKind::View, ObjectKind::Trigger,
                              ObjectKind::Index};
  for (int k = 0; k < 4; ++k) {
    const ObjectKind kind = kinds[k];
    if (given.isEmpty()) {
      names[k] = CategoryNames(engine, kind);
      continue;
    }
    for (const Selected& wanted : given) {
      if (wanted.kind != kind) continue;
      const QString name = ResolveName(engine, kind, wanted.name);
      if (name.isEmpty()) {
        PrintError(QStringLiteral("no %1 named %2").arg(KindWord(kind), wanted.name));
        return kExitUsage;
      }
      names[k] << name;
    }
  }
  // The deleted records of the tables saved (every table's when none is named).
  QStringList deletedNames;
  if (deleted)
    for (const QString& name : CategoryNames(engine, ObjectKind::Deleted))
      if (given.isEmpty() || names[0].contains(name, Qt::CaseInsensitive)) deletedNames << name;
  const std::vector<PlannedObject> selection =
      MakeSavePlan(names[0], names[1], names[2], names[3], deletedNames);

  const QString source = engine.FilePath().isEmpty() ? positional.at(0) : engine.FilePath();
  const QString fileName = QFileInfo(source).fileName();
  QString error;
  RecoveredDatabase target;
  if (!target.Open(engine, positional.at(1), fileName, &error)) {
    PrintError(error);
    return kExitUsage;
  }

  ProgressLine progress(int(selection.size()));
  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  bool allSaved = true;
  int index = 0;
  std::int64_t putBack = 0, lost = 0, recovered = 0;
  for (const PlannedObject& object : selection) {
    progress.SetObject(++index, object.name);
    const ObjectOutcome outcome = DispatchObject(engine, progress, object, target);
    progress.AddFinishedRecords(outcome.records);
    if (object.kind == ObjectKind::Table && outcome.written) {
      if (outcome.lostAndFound)
        lost += outcome.records;
      else if (outcome.recoveredTree)
        recovered += outcome.records;
      else
        putBack += outcome.putBack;
    }
    bool ok = false;
    const QString text = OutcomeText(object.kind, outcome, &ok);
    allSaved = allSaved && ok;
    progress.Clear();
    out << KindWord(object.kind) << '\t' << EscapeCell(object.name) << '\t' << EscapeCell(text)
        << '\n';
    out.flush();
  }
  target.Close();
  progress.Clear();
  if (putBack > 0 || lost > 0 || recovered > 0)
    PrintErrorLine(
        QStringLiteral("orphan pages: %1 records put back into their own tables, %2 in "
                       "tables without a schema row, %3 kept in the lost-and-found table")
            .arg(putBack)
            .arg(recovered)
            .arg(lost));
  PrintErrorLine((StopRequested() ? QStringLiteral("stopped; what was saved is in ")
                                  : QStringLiteral("saved into ")) +
                 target.Path());
  return allSaved && !StopRequested() ? kExitOk : kExitPartial;
}

}  // namespace velmora::cli
