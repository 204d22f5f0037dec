#include <QTextStream>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "output/ColumnStores.h"
#include "output/SaveDispatch.h"

namespace velmora::cli {
namespace {

// The record grid on the terminal: a row is printed, cell by cell as the
// grid shows it (read back from the column stores), once the next row has
// started or the table has ended.
class TerminalGrid : public StoreBackedGrid {
 public:
  explicit TerminalGrid(QTextStream& out) : m_out(out) {}

  void Finish() {
    PrintHeader();
    PrintRowsBefore(ItemCount());
    m_out.flush();
  }

 protected:
  void OnRowsAppended(int first, int) override {
    PrintHeader();
    PrintRowsBefore(first);
  }
  void OnRowsReset() override { m_nPrinted = 0; }

 private:
  void PrintHeader() {
    if (m_bHeader) return;
    m_bHeader = true;
    QStringList captions;
    for (int c = 0; c < ColumnCount(); ++c) captions << EscapeCell(ColumnCaption(c));
    m_out << captions.join(QLatin1Char('\t')) << '\n';
  }
  void PrintRowsBefore(int end) {
    const int columns = ColumnCount();
    for (; m_nPrinted < end; ++m_nPrinted) {
      for (int c = 0; c < columns; ++c) {
        if (c != 0) m_out << '\t';
        m_out << EscapeCell(CellText(m_nPrinted, c));
      }
      m_out << '\n';
    }
  }

  QTextStream& m_out;
  bool m_bHeader = false;
  int m_nPrinted = 0;
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
  int kind = kKindTable;
  for (int i = 0; i < args.size(); ++i) {
    if (args.at(i) == QLatin1String("--kind")) {
      if (i + 1 >= args.size() || (kind = KindFromWord(args.at(i + 1))) == 0) {
        PrintError(QStringLiteral("--kind takes table, view, index or trigger"));
        return kExitUsage;
      }
      ++i;
    } else {
      positional << args.at(i);
    }
  }
  if (positional.size() != 2) {
    PrintError(QStringLiteral("show takes FILE NAME [--kind table|view|index|trigger]"));
    return kExitUsage;
  }
  InstallStopOnInterrupt();
  CSQLiteRecovery engine;
  engine.m_pfnProgress = CliProgressProc;
  engine.ScanDatabase(positional.at(0));
  engine.BuildWorkingDatabase();
  if (engine.m_lstTableNames.isEmpty()) {
    QTextStream(stderr) << "File Corrupted\n";
    CSQLiteRecovery::CloseWorkingDatabase();
    return kExitFailure;
  }
  const QString name = ResolveName(engine, kind, positional.at(1));
  if (name.isEmpty()) {
    PrintError(QStringLiteral("no %1 named %2").arg(KindWord(kind), positional.at(1)));
    CSQLiteRecovery::CloseWorkingDatabase();
    return kExitUsage;
  }

  QTextStream out(stdout);
  out.setEncoding(QStringConverter::Utf8);
  TerminalGrid grid(out);
  TerminalStatus status;
  TerminalEdit edit;
  grid.ResetRecordGrid();
  grid.DeleteAllColumns();
  status.SetText(QStringLiteral("Records:"));
  DispatchObject(engine, name, kind, false, &grid, &edit, &status, nullptr, nullptr);
  if (kind == kKindTable) {
    grid.Finish();
    if (grid.ItemCount() > 0) status.SetText(QStringLiteral("  Records : %1").arg(grid.ItemCount()));
    QTextStream(stderr) << status.Text() << '\n';
    grid.ResetRecordGrid();
  } else {
    QString sql = edit.Text();
    sql.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out << sql;
    if (!sql.endsWith(QLatin1Char('\n'))) out << '\n';
    out.flush();
  }
  CSQLiteRecovery::CloseWorkingDatabase();
  return StopRequested() ? kExitPartial : kExitOk;
}

}  // namespace velmora::cli
