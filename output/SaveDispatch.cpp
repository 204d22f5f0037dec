#include "output/SaveDispatch.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output/TableExtraction.h"
#include "platform/TempFolder.h"

namespace velmora {

sqlite3* g_dbRecovered = nullptr;

namespace {

// Field n (1-based) of a schema row text whose values are joined with ",";
// field 5 is the whole rest of the row, commas included (the SQL text).
QString GetRowField(const QString& row, int n) {
  QString rest = row;
  for (int i = 1; i < n; ++i) {
    const int comma = rest.indexOf(QLatin1Char(','));
    if (comma < 0) return QString();
    rest = rest.mid(comma + 1);
  }
  if (n >= 5) return rest;
  const int comma = rest.indexOf(QLatin1Char(','));
  return comma < 0 ? rest : rest.left(comma);
}

QString WithCrLf(QString sql) {
  sql.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return sql;
}

// The SQL of the view, index or trigger `name` as decoded, without the
// line-end change made for the statement edit. Found by exact name among the
// schema objects, else in the row texts.
QString ObjectSql(const CSQLiteRecovery& engine, int kind, const QString& name) {
  const std::vector<SchemaObject>* objects = nullptr;
  const QStringList* rows = nullptr;
  switch (kind) {
    case kKindView: objects = &engine.m_vecViewObjects; rows = &engine.m_lstViewRows; break;
    case kKindIndex: objects = &engine.m_vecIndexObjects; rows = &engine.m_lstIndexRows; break;
    case kKindTrigger:
      objects = &engine.m_vecTriggerObjects;
      rows = &engine.m_lstTriggerRows;
      break;
    default: return QString();
  }
  for (const SchemaObject& object : *objects) {
    if (object.name == name) return object.sql;
  }
  for (const QString& row : *rows) {
    if (GetRowField(row, 2) == name) return GetRowField(row, 5);
  }
  return QString();
}

ObjectOutcome GetObjectSql(CSQLiteRecovery& engine, int kind, const QString& name,
                           IStatementEdit* statementEdit) {
  ObjectOutcome outcome;
  const QString sql = ObjectSql(engine, kind, name);
  if (!engine.m_bSaveMode) {
    if (statementEdit != nullptr) {
      statementEdit->SetText(WithCrLf(sql));
      statementEdit->SetFocus();
    }
    return outcome;
  }
  if (g_dbRecovered == nullptr) {
    outcome.error = QStringLiteral("the recovered database is not open");
  } else if (sql.isEmpty()) {
    outcome.error = QStringLiteral("its statement was not found");
  } else {
    outcome.written = ExecCreateStatement(g_dbRecovered, sql, &outcome.error);
  }
  return outcome;
}

}  // namespace

QString FindObjectSql(const QStringList& rows, const QString& name) {
  for (const QString& row : rows) {
    if (GetRowField(row, 2) == name) return WithCrLf(GetRowField(row, 5));
  }
  return QString();
}

ObjectOutcome DispatchObject(CSQLiteRecovery& engine, const QString& name, int kind, bool saveMode,
                             IRecordGrid* grid, IStatementEdit* statementEdit,
                             IStatusText* statusText, IProgressBar* progressBar,
                             IControl* stopButton) {
  if (engine.ProgressStop()) {
    ObjectOutcome outcome;
    outcome.stopped = true;
    outcome.error = QStringLiteral("the save was stopped before it");
    return outcome;
  }
  engine.m_bSaveMode = saveMode;
  if (saveMode) {
    grid = nullptr;
    statementEdit = nullptr;
  }
  if (kind == kKindTable) {
    if (!saveMode) {
      EmptyTempFolder();
      if (grid != nullptr) grid->SetVisible(true);
      if (statementEdit != nullptr) statementEdit->SetVisible(false);
      if (statusText != nullptr) statusText->SetVisible(true);
      if (progressBar != nullptr) progressBar->SetVisible(true);
      if (stopButton != nullptr) stopButton->SetVisible(true);
    }
    return ExtractTable(engine, name, grid, statusText, progressBar, stopButton);
  }
  if (!saveMode) {
    if (grid != nullptr) grid->SetVisible(false);
    if (statementEdit != nullptr) statementEdit->SetVisible(true);
    if (statusText != nullptr) statusText->SetVisible(false);
    if (progressBar != nullptr) progressBar->SetVisible(false);
  }
  return GetObjectSql(engine, kind, name, statementEdit);
}

bool OpenRecoveredDatabase(CSQLiteRecovery& engine, const QString& folder,
                           const QString& fileName, QString* error) {
  QString message;
  if (error == nullptr) error = &message;
  g_dbRecovered = nullptr;
  if (folder.isEmpty() || fileName.isEmpty() || fileName.contains(QLatin1Char('/'))) {
    *error = QStringLiteral("No folder or file name was given for the recovered database.");
    return false;
  }
  // A chosen folder that has vanished since it was chosen is made again.
  if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
    *error = QStringLiteral("The folder \"%1\" does not exist and cannot be created.").arg(folder);
    return false;
  }
  engine.m_strOutputFolder = folder;
  QString path = folder;
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  path += fileName;
  const QByteArray native = QFile::encodeName(path);

  // The file is created here, exclusively and without following a symbolic
  // link: whatever already bears the name (an earlier save, the damaged file
  // itself) is never opened, let alone written.
  const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) {
      *error = QStringLiteral(
                   "The file \"%1\" already exists. The recovered database is never written "
                   "over an existing file: choose another folder.")
                   .arg(path);
    } else {
      *error = QStringLiteral("The recovered database \"%1\" cannot be created (%2).")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    return false;
  }
  ::close(fd);

  const QByteArray pathUtf8 = path.toUtf8();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(pathUtf8.constData(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  if (rc != SQLITE_OK) {
    const QString reason = QString::fromUtf8(db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    std::fprintf(stderr, "%s: can't open %s (%s)\n", pathUtf8.constData(), pathUtf8.constData(),
                 reason.toUtf8().constData());
    sqlite3_close(db);
    QFile::remove(path);
    *error = QStringLiteral("The recovered database \"%1\" cannot be opened (%2).").arg(path, reason);
    return false;
  }
  // Texts are bound byte for byte in the damaged file's own encoding: the new
  // database gets that encoding before its first table.
  switch (engine.m_nTextEncoding) {
    case 2: ExecSql(db, "PRAGMA encoding = 'UTF-16le'"); break;
    case 3: ExecSql(db, "PRAGMA encoding = 'UTF-16be'"); break;
    default: ExecSql(db, "PRAGMA encoding = 'UTF-8'"); break;
  }
  ExecSql(db, "PRAGMA synchronous = OFF");
  ExecSql(db, "PRAGMA journal_mode = MEMORY");
  // A table's inserts form one transaction: a larger page cache keeps its
  // pages from being spilled and read again while it grows.
  ExecSql(db, "PRAGMA cache_size = -32768");
  g_dbRecovered = db;
  return true;
}

void CloseRecoveredDatabase() {
  if (g_dbRecovered == nullptr) return;
  if (sqlite3_get_autocommit(g_dbRecovered) == 0) ExecSql(g_dbRecovered, "COMMIT");
  sqlite3_close_v2(g_dbRecovered);
  g_dbRecovered = nullptr;
}

}  // namespace velmora
