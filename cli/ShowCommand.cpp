#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "output/ColumnStores.h"
#include "output/SaveDispatch.h"

namespace velmora::cli {
namespace {

// The record grid on the terminal. The cells go into the column stores as in
// the window; each row is printed, cell by cell with the text the grid shows
// for it, once the next row starts or the table ends.
class TerminalGrid : public StoreBackedGrid {
 public:
  explicit TerminalGrid(QTextStream& out) : m_out(out) {}

  void AddGridCell(int column, const QString& text) override {
    if (column == 0) PrintPendingRow();
    const int rowsBefore = ItemCount();
    StoreBackedGrid::AddGridCell(column, text);
    if (ItemCount() == 0 || (column != 0 && rowsBefore == 0)) return;
    if (column >= 0 && column < ColumnCount()) {
      if (m_cells.size() < ColumnCount()) m_cells.resize(ColumnCount());
      m_cells[column] = ShownText(column, text);
      m_bPending = true;
    }
  }

  void Finish() {
    PrintHeader();
    PrintPendingRow();
    m_out.flush();
  }

 protected:
  void OnRowsReset() override {
    m_cells.clear();
    m_bPending = false;
  }

 private:
  void PrintHeader() {
    if (m_bHeader) return;
    m_bHeader = true;
    QStringList captions;
    for (int c = 0; c < ColumnCount(); ++c) captions << EscapeCell(ColumnCaption(c));
    m_out << captions.join(QLatin1Char('\t')) << '\n';
  }
  void PrintPendingRow() {
    if (!m_bPending) return;
    PrintHeader();
    for (int c = 0; c < ColumnCount(); ++c) {
      if (c != 0) m_out << '\t';
      if (c < m_cells.size()) m_out << EscapeCell(m_cells[c]);
    }
    m_out << '\n';
    m_cells.fill(QString());
    m_bPending = false;
  }

  QTextStream& m_out;
  bool m_bHeader = false;
  bool m_bPending = false;  // a row has cells that are not printed yet
  QList<QString> m_cells;   // the shown texts of that row
};

class TerminalStatus : public IStatusText {
 public:
  void SetText(const QString& text) override { m_strText = text; }
  void SetVisible(bool) override {}
  QString Text() const { return m_strText; }

 private:
  QString m_strText;
};

class TerminalEdit : public IStatementEdit {
 public:
  void SetText(const QString& text) override { m_strText = text; }
  void SetFocus() override {}
  void SetVisible(bool) override {}
  QString Text() const { return m_strText; }

 private:
  QString m_strText;
};

}  // namespace

int RunShow(const QStringList& args) {
  QStringList positional;
  ObjectKind kind = ObjectKind::Table;
  bool kindGiven = false;  // any kind, until --kind names one
  bool deleted = false;
  for (int i = 0; i < args.size(); ++i) {
    if (args.at(i) == QLatin1String("--deleted")) {
      deleted = true;
    } else if (args.at(i) == QLatin1String("--kind")) {
      if (i + 1 >= args.size() || !KindFromWord(args.at(i + 1), &kind)) {
        PrintError(QStringLiteral("--kind takes table, view, index or trigger"));
        return kExitUsage;
      }
      kindGiven = true;
      ++i;
    } else {
      positional << args.at(i);
    }
  }
  if (positional.size() != 2 || (deleted && kindGiven && kind != ObjectKind::Table)) {
    PrintError(
        QStringLiteral("show takes FILE NAME [--kind table|view|index|trigger] or FILE NAME "
                       "--deleted"));
    return kExitUsage;
  }
  InstallStopOnInterrupt();
  CSQLiteRecovery engine;
  InterruptStop stop;
  if (!OpenDamagedFile(engine, positional.at(0), stop, deleted)) return kExitFailure;
  QString name;
  if (deleted) {
    kind = ObjectKind::Deleted;
    name = ResolveName(engine, kind, positional.at(1));
    if (name.isEmpty()) {
      PrintError(QStringLiteral("no deleted records of a table named %1").arg(positional.at(1)));
      return engine.Deleted().stopped ? kExitPartial : kExitUsage;
    }
  } else if (kindGiven) {
    name = ResolveName(engine, kind, positional.at(1));
    if (name.isEmpty()) {
      PrintError(QStringLiteral("no %1 named %2").arg(KindWord(kind), positional.at(1)));
      return kExitUsage;
    }
  } else {
    // The object of that name, whatever its kind; a name that several kinds
    // hold (a trigger and a table, or a row whose damaged type lists it
    // twice) needs --kind.
    QStringList kinds;
    for (const ObjectKind each :
         {ObjectKind::Table, ObjectKind::View, ObjectKind::Index, ObjectKind::Trigger}) {
      const QString found = ResolveName(engine, each, positional.at(1));
      if (found.isEmpty()) continue;
      kinds << KindWord(each);
      kind = each;
      name = found;
    }
    if (kinds.isEmpty()) {
      PrintError(QStringLiteral("no object named %1").arg(positional.at(1)));
      return kExitUsage;
    }
    if (kinds.size() > 1) {
      PrintError(QStringLiteral("%1 names a %2: say which with --kind %3")
                     .arg(positional.at(1), kinds.join(QStringLiteral(" and a ")),
                          kinds.join(QLatin1Char('|'))));
      return kExitUsage;
    }
  }

  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  TerminalGrid grid(out);
  TerminalStatus status;
  TerminalEdit edit;
  grid.ResetRecordGrid();
  grid.DeleteAllColumns();
  status.SetText(QStringLiteral("Records:"));
  SilentProgressBar bar;     // the terminal shows no bar
  SilentControl stopButton;  // Ctrl+C stops
  DispatchObject(engine, stop, {kind, name}, DisplayPane{grid, edit, status, bar, stopButton});
  // A virtual table has no records of its own: its statement is shown.
  if (kind == ObjectKind::Deleted ||
      (kind == ObjectKind::Table && ObjectSql(engine, kind, name).isEmpty())) {
    grid.Finish();
    if (grid.ItemCount() > 0) status.SetText(RecordsCountText(grid.ItemCount()));
    PrintErrorLine(status.Text());
    grid.ResetRecordGrid();
  } else {
    QString sql = edit.Text();
    sql.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    // The statement keeps its lines; any other control character is escaped.
    sql = EscapeControls(sql, true);
    out << sql;
    if (!sql.endsWith(QLatin1Char('\n'))) out << '\n';
    out.flush();
  }
  return StopRequested() ? kExitPartial : kExitOk;
}

}  // namespace velmora::cli
