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

#include "engine/core/Values.h"
#include "engine/session/SQLiteRecovery.h"
#include "output/RecordOutput.h"
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

// Records what a table walk hands on, as ITEMs (display texts made in
// display mode). Long values go to files of its own temporary folder.
class RecordRecorder : public velmora::CTableReader {
 public:
  RecordRecorder(velmora::CSQLiteRecovery& engine, bool save,
                 velmora::IProgress& progress = velmora::NoProgress())
      : velmora::CTableReader(engine, progress,
                              save ? velmora::DecodeMode::Save : velmora::DecodeMode::Display) {}
  struct Record {
    bool hasRowid = false;
    std::int64_t rowid = 0;
    velmora::RecordValues values;
  };
  std::vector<Record> records;
  int stopAfter = -1;        // OnRecord reports a stop after this many records
  bool noTempFiles = false;  // PathFor has none to give

  // Walks the tree under `root` into the recorder; true when it was complete.
  bool Walk(std::int64_t root) {
    report = m_engine.WalkPage(root, *this, *this);
    return report.complete;
  }
  velmora::WalkReport report;

  QString PathFor(std::int64_t) override {
    if (noTempFiles) return QString();
    return m_dir.path() + QStringLiteral("/value%1.bin").arg(m_next++);
  }

 protected:
  bool OnRecord(const velmora::RecordView& view) override {
    records.push_back({view.hasRowid, view.rowid,
                       velmora::MakeItems(view, m_engine.geometry().textEncoding,
                                          m_mode != velmora::DecodeMode::Save)});
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

// Scans `path` as the Open command does: an outcome other than Opened is
// shown in a message box (recorded by a MessageRecorder). Always true, so
// that a test reads like the Open command it mirrors.
inline bool Opened(velmora::CSQLiteRecovery& engine, const QString& path) {
  const auto outcome = engine.ScanDatabase(path);
  if (outcome != velmora::CSQLiteRecovery::ScanOutcome::Opened)
    velmora::ShowMessageBox(velmora::CSQLiteRecovery::ScanMessage(outcome));
  return true;
}

inline const velmora::SchemaObject* FindTable(const velmora::CSQLiteRecovery& engine,
                                              const QString& name) {
  return engine.Catalog().Find(velmora::SchemaKind::Table, name);
}

}  // namespace enginetest
