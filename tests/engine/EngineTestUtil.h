// Small helpers of the engine tests: databases built with the SQLite library,
// a recorder for the record sink and for message boxes.
#pragma once

#include <sqlite3.h>

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

#include "engine/SQLiteRecovery.h"
#include "platform/MessageBox.h"

namespace enginetest {

struct DbOptions {
  int pageSize = 4096;
  const char* encoding = "UTF-8";
  int reservedBytes = 0;
};

// Creates `path` with the options and runs `sql` (statements separated by
// ";"). Fails the test on any error.
inline bool BuildDb(const QString& path, const DbOptions& options, const QString& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) return false;
  int reserved = options.reservedBytes;
  if (reserved > 0) sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserved);
  const QByteArray setup = QStringLiteral("PRAGMA page_size=%1; PRAGMA encoding='%2'; ")
                               .arg(options.pageSize)
                               .arg(QLatin1String(options.encoding))
                               .toUtf8();
  char* error = nullptr;
  bool ok = sqlite3_exec(db, setup.constData(), nullptr, nullptr, &error) == SQLITE_OK;
  if (ok) ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) == SQLITE_OK;
  if (!ok) qWarning("BuildDb: %s", error ? error : "?");
  sqlite3_free(error);
  sqlite3_close(db);
  return ok;
}

// Records what a table walk hands on.
class RecordRecorder : public velmora::IRecordSink {
 public:
  explicit RecordRecorder(const QString& = QString()) {}
  struct Record {
    bool hasRowid = false;
    std::int64_t rowid = 0;
    velmora::RecordValues values;
  };
  std::vector<Record> records;
  int stopAfter = -1;  // EmitRecord reports a stop after this many records
  bool noTempFiles = false;  // MakeTempFilePath has none to give

  QString FormatRecordStatus(velmora::IRecordGrid*) override { return QString(); }
  void BeforeCell() override {}
  QString MakeTempFilePath() override {
    if (noTempFiles) return QString();
    return m_dir.path() + QStringLiteral("/value%1.bin").arg(m_next++);
  }
  bool EmitRecord(velmora::RecordValues& values, bool hasRowid, std::int64_t rowid,
                  velmora::IRecordGrid*, velmora::IStatusText*, const QString&) override {
    records.push_back({hasRowid, rowid, values});
    return stopAfter < 0 || static_cast<int>(records.size()) < stopAfter;
  }

 private:
  QTemporaryDir m_dir;
  int m_next = 0;
};

// Collects message-box texts while it lives.
class MessageRecorder {
 public:
  MessageRecorder() {
    m_previous = velmora::SetMessageBoxHook(
        [this](const QString& text, velmora::MsgButtons, velmora::MsgIcon) {
          texts.append(text);
          return velmora::MsgResult::Ok;
        });
  }
  ~MessageRecorder() { velmora::SetMessageBoxHook(m_previous); }
  QStringList texts;

 private:
  velmora::MessageBoxHook m_previous;
};

inline const velmora::SchemaObject* FindTable(const velmora::CSQLiteRecovery& engine,
                                              const QString& name) {
  for (const auto& object : engine.m_vecTableObjects)
    if (object.name == name) return &object;
  return nullptr;
}

}  // namespace enginetest
