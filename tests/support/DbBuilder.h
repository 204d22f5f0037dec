// Builds test databases with the SQLite library.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

struct sqlite3;

namespace velmora::test {

enum class TextEncoding { Utf8 = 1, Utf16le = 2, Utf16be = 3 };

// Layout of a new database file; fixed before the first write.
struct DbOptions {
  int pageSize = 4096;  // 512 .. 65536, a power of two
  TextEncoding encoding = TextEncoding::Utf8;
  int reservedBytes = 0;    // reserved space at the end of every page (0 .. 255)
  bool autoVacuum = false;  // pointer-map pages between the b-tree pages
};

QString EncodingName(TextEncoding encoding);  // "UTF-8", "UTF-16le", "UTF-16be"

// One connection to a database file that is created afresh (an existing file
// of that name is removed first). Every failure is kept in LastError() and
// makes the next calls fail too, so that a test checks Ok() once at the end.
//
// Values for Insert are QVariants: an invalid QVariant is NULL, integer types
// bind as 64-bit integers, double as a real, QString as text (converted by
// SQLite into the database encoding), QByteArray as a blob. A text with exact
// bytes in the database encoding is given with Utf8Text/RawText below.
class DbBuilder {
 public:
  explicit DbBuilder(const QString& path, const DbOptions& options = {});
  ~DbBuilder();
  DbBuilder(const DbBuilder&) = delete;
  DbBuilder& operator=(const DbBuilder&) = delete;

  bool Ok() const { return m_error.isEmpty(); }
  QString LastError() const { return m_error; }
  sqlite3* Handle() const { return m_db; }
  QString Path() const { return m_path; }

  // Runs one or more statements that return no data.
  bool Exec(const QString& sql);
  // Runs one statement with `values` bound to its parameters ?1, ?2, ...
  bool Run(const QString& sql, const QVariantList& values);
  // INSERT INTO table (in double quotes) VALUES (?, ?, ...).
  bool Insert(const QString& table, const QVariantList& values);
  bool Begin() { return Exec(QStringLiteral("BEGIN")); }
  bool Commit() { return Exec(QStringLiteral("COMMIT")); }

  // Closes the connection (also done by the destructor). The file is then
  // complete: no journal, no write-ahead log.
  bool Close();

 private:
  void Fail(const QString& what);
  QString m_path;
  sqlite3* m_db = nullptr;
  QString m_error;
};

// Runs `sql` on the existing database file `path` (for changes after the
// build: deletions that leave free pages, updates). Empty text on success,
// else SQLite's message.
QString ExecOnFile(const QString& path, const QString& sql);

// A text value given as its exact bytes (bound with sqlite3_bind_text, so it
// is stored as text; for UTF-16 databases SQLite converts UTF-8 bytes).
struct RawText {
  QByteArray bytes;
};

}  // namespace velmora::test

Q_DECLARE_METATYPE(velmora::test::RawText)
