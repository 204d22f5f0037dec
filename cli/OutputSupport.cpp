#include <unistd.h>

#include <QElapsedTimer>
#include <QTextStream>
#include <csignal>
#include <cstdio>

#include "cli/OutputCommands.h"
#include "engine/passes/SchemaSearch.h"
#include "engine/schema/SchemaRows.h"
#include "output/RecordOutput.h"
#include "output/SaveDispatch.h"
#include "platform/Text.h"

namespace velmora::cli {
namespace {

volatile std::sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) { g_bInterrupted = 1; }

std::int64_t NowMs() {
  static QElapsedTimer timer;
  if (!timer.isValid()) timer.start();
  return timer.elapsed();
}

}  // namespace

QString EscapeCell(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    if (c == QLatin1Char('\\'))
      out += QLatin1String("\\\\");
    else if (c == QLatin1Char('\t'))
      out += QLatin1String("\\t");
    else if (c == QLatin1Char('\n'))
      out += QLatin1String("\\n");
    else
      out += c;
  }
  // Any other control character of a name or value (ESC, BEL, CR, NUL) is
  // written as \xHH: it would otherwise act on the terminal.
  return EscapeControls(out);
}

void InstallStopOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
}

bool StopRequested() { return g_bInterrupted != 0; }

ProgressLine::ProgressLine(int objects)
    : m_bTerminal(::isatty(STDERR_FILENO) == 1), m_nObjects(objects), m_nStartMs(NowMs()) {}

void ProgressLine::SetObject(int index, const QString& name) {
  m_nIndex = index;
  m_strName = name;
  Refresh(true);
}

void ProgressLine::Refresh(bool force) {
  if (!m_bTerminal) return;
  const std::int64_t now = NowMs();
  if (!force && now - m_nLastMs < 200) return;
  m_nLastMs = now;
  const std::int64_t records = m_nRecordsBefore + m_nCurrentRecords;
  const double seconds = std::max<std::int64_t>(now - m_nStartMs, 1) / 1000.0;
  const QString line = QStringLiteral("\r\033[Kobject %1/%2 %3: %4 records, %5 records/s")
                           .arg(m_nIndex)
                           .arg(m_nObjects)
                           .arg(EscapeControls(m_strName.left(40)))
                           .arg(records)
                           .arg(qint64(records / seconds));
  std::fputs(line.toLocal8Bit().constData(), stderr);
  std::fflush(stderr);
  m_bShown = true;
}

void ProgressLine::Clear() {
  if (!m_bTerminal || !m_bShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_bShown = false;
}

QString ResolveName(const CSQLiteRecovery& engine, ObjectKind kind, const QString& given) {
  const QStringList names = CategoryNames(engine, kind);
  if (names.contains(given)) return given;
  if (kind == ObjectKind::Table || kind == ObjectKind::Deleted) {
    for (const QString& name : names) {
      if (TableTreeText(name) == given) return name;
    }
  }
  return QString();
}

bool KindFromWord(const QString& word, ObjectKind* kind) {
  for (ObjectKind k :
       {ObjectKind::Table, ObjectKind::View, ObjectKind::Index, ObjectKind::Trigger}) {
    if (word == KindWord(k)) {
      *kind = k;
      return true;
    }
  }
  return false;
}

QString KindWord(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::Table:
      return QStringLiteral("table");
    case ObjectKind::View:
      return QStringLiteral("view");
    case ObjectKind::Index:
      return QStringLiteral("index");
    case ObjectKind::Trigger:
      return QStringLiteral("trigger");
    case ObjectKind::Deleted:
      return QStringLiteral("deleted records");
  }
  return QStringLiteral("object");
}

namespace {
bool g_bMainFileOnly = false;
}  // namespace

void SetMainFileOnly(bool mainFileOnly) { g_bMainFileOnly = mainFileOnly; }

bool OpenDamagedFile(CSQLiteRecovery& engine, const QString& file, IProgress& stop,
                     bool findDeleted) {
  CSQLiteRecovery::ScanOptions options;
  options.useCompanions = !g_bMainFileOnly;
  options.findDeleted = findDeleted;
  const CSQLiteRecovery::ScanOutcome scan = engine.ScanDatabase(file, options, stop);
  if (scan != CSQLiteRecovery::ScanOutcome::Opened) {
    // One message: a file that cannot be opened is not said to be corrupted too.
    PrintErrorLine(CSQLiteRecovery::ScanMessage(scan));
    return false;
  }
  // Where the pages came from, when not all from the file at its header's
  // settings: companion files used or passed over, detected settings.
  for (const QString& line : DescribeSource(engine.SourceInfo()))
    PrintErrorLine(QStringLiteral("velmora-recover: ") + line);
  // Page 1 read without its b-tree header, schema rows found outside the
  // schema tree.
  for (const QString& line : DescribeSchemaRecovery(engine))
    PrintErrorLine(QStringLiteral("velmora-recover: ") + line);
  const CSQLiteRecovery::WorkingDbOutcome working = engine.BuildWorkingDatabase(stop);
  if (!working.message.isEmpty()) {
    // No working database: the file was not judged, so it is not called corrupted.
    PrintErrorLine(working.message);
    return false;
  }
  // Tables whose stored statement the library refused and that were rebuilt.
  for (const SchemaObject& object : engine.Catalog().Objects()) {
    if (!object.sqlRebuilt) continue;
    PrintErrorLine(
        QStringLiteral("velmora-recover: table ") + object.name +
        QStringLiteral(": its CREATE TABLE statement is damaged; rebuilt from its surviving text") +
        (object.repairNote.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(object.repairNote)));
  }
  if (findDeleted && engine.Deleted().stopped)
    PrintErrorLine(QStringLiteral("velmora-recover: the search for deleted records was stopped"));
  if (!engine.TableNames().isEmpty()) return true;
  PrintErrorLine(QStringLiteral("File Corrupted"));
  return false;
}

}  // namespace velmora::cli
