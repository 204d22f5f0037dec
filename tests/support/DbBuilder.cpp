#include "tests/support/DbBuilder.h"

#include <sqlite3.h>

#include <QFile>

namespace velmora::test {

QString EncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf16le:
      return QStringLiteral("UTF-16le");
    case TextEncoding::Utf16be:
      return QStringLiteral("UTF-16be");
    case TextEncoding::Utf8:
      break;
  }
  return QStringLiteral("UTF-8");
}

DbBuilder::DbBuilder(const QString& path, const DbOptions& options) : m_path(path) {
  QFile::remove(path);
  QFile::remove(path + QStringLiteral("-journal"));
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    Fail(QStringLiteral("open"));
    return;
  }
  // Page size, encoding, auto-vacuum and reserved bytes only take effect
  // while the file is still empty.
  // The reserved bytes go first: once a pragma has looked at the file, the
  // page layout is fixed and the request would be ignored without an error.
  if (options.reservedBytes > 0) {
    int reserve = options.reservedBytes;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve) != SQLITE_OK)
      Fail(QStringLiteral("reserve bytes"));
  }
  Exec(QStringLiteral("PRAGMA page_size=%1").arg(options.pageSize));
  Exec(QStringLiteral("PRAGMA encoding='%1'").arg(EncodingName(options.encoding)));
  Exec(QStringLiteral("PRAGMA auto_vacuum=%1").arg(options.autoVacuum ? 1 : 0));
  Exec(QStringLiteral("PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF"));
}

DbBuilder::~DbBuilder() { Close(); }

void DbBuilder::Fail(const QString& what) {
  if (!m_error.isEmpty()) return;
  m_error = what + QStringLiteral(": ") +
            (m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("no connection"));
}

bool DbBuilder::Exec(const QString& sql) {
  if (!Ok() || !m_db) return false;
  char* message = nullptr;
  if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
    m_error =
        QStringLiteral("%1: %2").arg(sql.left(200), QString::fromUtf8(message ? message : "?"));
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool DbBuilder::Run(const QString& sql, const QVariantList& values) {
  if (!Ok() || !m_db) return false;
  sqlite3_stmt* stmt = nullptr;
  const QByteArray text = sql.toUtf8();
  if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &stmt, nullptr) != SQLITE_OK) {
    Fail(sql.left(200));
    return false;
  }
  int index = 1;
  for (const QVariant& v : values) {
    int rc = SQLITE_OK;
    if (!v.isValid() || v.isNull()) {
      rc = sqlite3_bind_null(stmt, index);
    } else if (v.metaType() == QMetaType::fromType<RawText>()) {
      const QByteArray bytes = v.value<RawText>().bytes;
      rc = sqlite3_bind_text(stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    } else {
      switch (v.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
          rc = sqlite3_bind_double(stmt, index, v.toDouble());
          break;
        case QMetaType::QString: {
          const QString s = v.toString();
          rc = sqlite3_bind_text16(stmt, index, s.utf16(), int(s.size() * 2), SQLITE_TRANSIENT);
          break;
        }
        case QMetaType::QByteArray: {
          const QByteArray b = v.toByteArray();
          // A zero-length blob is still a blob, not NULL.
          rc = sqlite3_bind_blob(stmt, index, b.isEmpty() ? "" : b.constData(), int(b.size()),
                                 SQLITE_TRANSIENT);
          break;
        }
        case QMetaType::Bool:
          rc = sqlite3_bind_int64(stmt, index, v.toBool() ? 1 : 0);
          break;
        default:
          rc = sqlite3_bind_int64(stmt, index, v.toLongLong());
          break;
      }
    }
    if (rc != SQLITE_OK) {
      Fail(QStringLiteral("bind %1").arg(index));
      sqlite3_finalize(stmt);
      return false;
    }
    ++index;
  }
  const int rc = sqlite3_step(stmt);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(sql.left(200));
  sqlite3_finalize(stmt);
  return Ok();
}

bool DbBuilder::Insert(const QString& table, const QVariantList& values) {
  QString quoted = table;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  QStringList marks;
  for (int i = 0; i < values.size(); ++i) marks << QStringLiteral("?");
  return Run(
      QStringLiteral("INSERT INTO \"%1\" VALUES (%2)").arg(quoted, marks.join(QLatin1Char(','))),
      values);
}

bool DbBuilder::Close() {
  if (!m_db) return Ok();
  if (sqlite3_close(m_db) != SQLITE_OK) {
    Fail(QStringLiteral("close"));
    sqlite3_close_v2(m_db);
  }
  m_db = nullptr;
  return Ok();
}

QString ExecOnFile(const QString& path, const QString& sql) {
  sqlite3* db = nullptr;
  QString error;
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
      SQLITE_OK) {
    error = QString::fromUtf8(sqlite3_errmsg(db));
  } else {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK)
      error = QString::fromUtf8(message ? message : "?");
    sqlite3_free(message);
  }
  sqlite3_close(db);
  return error;
}

}  // namespace velmora::test
