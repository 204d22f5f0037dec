#include "ui/dialogs/ErrorDlg.h"

#include <QDir>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {
namespace {

QString KindWord(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::Table:
      return QStringLiteral("Table");
    case ObjectKind::View:
      return QStringLiteral("View");
    case ObjectKind::Index:
      return QStringLiteral("Index");
    case ObjectKind::Trigger:
      return QStringLiteral("Trigger");
    case ObjectKind::Deleted:
      return QStringLiteral("Deleted records");
  }
  return QStringLiteral("Object");
}

QString Records(std::int64_t n) {
  return n == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(n);
}

QString Subject(const SaveReportEntry& e) {
  return QStringLiteral("%1 \"%2\"").arg(KindWord(e.kind), e.name);
}

// Where a table's records came from, when not all from its own tree.
QString Origins(const ObjectOutcome& o) {
  if (o.lostAndFound)
    return QStringLiteral(" (rows of orphan pages that fit no table, or more than one)");
  if (o.recoveredTree) return QStringLiteral(" (from orphan pages: its schema row is lost)");
  if (o.putBack > 0)
    return QStringLiteral(" (%1 from its own tree, %2 put back from orphan pages)")
        .arg(o.records - o.putBack)
        .arg(o.putBack);
  return QString();
}

}  // namespace

bool FullySaved(const ObjectOutcome& outcome) {
  return outcome.written && !outcome.stopped && outcome.error.isEmpty();
}

QString FormatSaveReport(const SaveReport& report) {
  QStringList saved, partly, notSaved;
  int damaged = 0;  // tables written whole as far as the damaged file could be read
  std::int64_t putBack = 0, lost = 0, recovered = 0;
  for (const SaveReportEntry& e : report.entries) {
    const ObjectOutcome& o = e.outcome;
    const bool isTable = e.kind == ObjectKind::Table;
    if (isTable && o.written) {
      if (o.lostAndFound)
        lost += o.records;
      else if (o.recoveredTree)
        recovered += o.records;
      else
        putBack += o.putBack;
    }
    if (FullySaved(o)) {
      QString line =
          isTable ? QStringLiteral("  %1: %2%3").arg(Subject(e), Records(o.records), Origins(o))
                  : QStringLiteral("  %1").arg(Subject(e));
      if (e.kind == ObjectKind::Deleted)
        line = QStringLiteral("  %1: %2 as \"%3\" (%4 whole, %5 partial)")
                   .arg(Subject(e), Records(o.records), o.savedAs)
                   .arg(o.whole)
                   .arg(o.records - o.whole);
      if (o.incomplete) {
        line += QStringLiteral(" (part of it could not be read from the damaged file)");
        ++damaged;
      }
      if (!o.note.isEmpty()) line += QStringLiteral("; ") + o.note;
      saved << line;
    } else if (o.written) {
      const QString why = !o.error.isEmpty() ? o.error : QStringLiteral("the save was stopped");
      partly << (isTable ? QStringLiteral("  %1: %2 written%3, then %4")
                               .arg(Subject(e), Records(o.records), Origins(o), why)
                         : QStringLiteral("  %1: %2").arg(Subject(e), why));
    } else {
      QString why = o.error;
      if (why.isEmpty()) {
        why = o.stopped || report.stopped ? QStringLiteral("passed over, the save was stopped")
                                          : QStringLiteral("not written");
      }
      notSaved << QStringLiteral("  %1: %2").arg(Subject(e), why);
    }
  }

  QStringList lines;
  const bool allSaved = !report.stopped && partly.isEmpty() && notSaved.isEmpty();
  if (allSaved && damaged == 0) {
    lines << QStringLiteral("saving done successfully...");
  } else if (allSaved) {
    // Written as far as the file allowed: say so, a lost page is lost data.
    lines << QStringLiteral(
                 "Saving done: every ticked object was written, but %1 table(s)\n"
                 "could not be read completely from the damaged file.")
                 .arg(damaged);
  } else if (report.stopped) {
    lines << QStringLiteral("The save was stopped: %1 of %2 object(s) were saved completely.")
                 .arg(saved.size())
                 .arg(report.entries.size());
  } else {
    lines << QStringLiteral(
                 "The save has ended, but %1 of %2 object(s) could not be saved "
                 "completely.")
                 .arg(partly.size() + notSaved.size())
                 .arg(report.entries.size());
  }
  lines << QString()
        << QStringLiteral("Recovered database: %1").arg(QDir::toNativeSeparators(report.filePath));
  // Pages that came from the write-ahead log or a hot journal, companions
  // left out, settings detected instead of read: the user learns what state
  // of the database the save holds.
  if (!report.source.isEmpty()) {
    lines << QString() << QStringLiteral("Read from the damaged file:");
    for (const QString& line : report.source) lines << QStringLiteral("  ") + line;
  }
  if (putBack > 0 || lost > 0 || recovered > 0) {
    // Rows that no live tree reached are told, not hidden.
    lines << QString()
          << QStringLiteral(
                 "Orphan pages: %1 put back into their own tables, %2 in tables "
                 "whose schema row is lost, %3 kept in the lost-and-found table.")
                 .arg(Records(putBack), Records(recovered), Records(lost));
  }
  if (!saved.isEmpty()) lines << QString() << QStringLiteral("Saved:") << saved;
  if (!partly.isEmpty()) lines << QString() << QStringLiteral("Saved in part:") << partly;
  if (!notSaved.isEmpty()) lines << QString() << QStringLiteral("Not saved:") << notSaved;
  return lines.join(QLatin1Char('\n'));
}

CErrorDlg::CErrorDlg(const SaveReport& report, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Process Completed"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  m_strMessage = FormatSaveReport(report);

  m_pEdit = new QPlainTextEdit;
  m_pEdit->setObjectName(QStringLiteral("edit1001"));
  m_pEdit->setReadOnly(true);  // selectable and copyable, not editable
  m_pEdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_pEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_pEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_pEdit->setPlainText(m_strMessage);

  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setDefault(true);
  ok->setMinimumWidth(80);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 14);
  layout->addWidget(m_pEdit, 1);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  resize(620, 340);
  ok->setFocus();
}

}  // namespace velmora
