// Reading CREATE VIRTUAL TABLE statements and recreating the tables of the
// modules that the library ships, confined.
#include "engine/schema/VirtualTables.h"

#include <sqlite3.h>

#include <functional>

#include "engine/schema/SqliteDb.h"
#include "engine/schema/StandIns.h"
#include "platform/Text.h"

namespace velmora {
namespace {

const char* const kRecreatable[] = {"fts3", "fts4", "fts5", "rtree", "rtree_i32", "geopoly"};

bool Significant(const SqlToken& token) {
  return token.kind != SqlTokenKind::Space && token.kind != SqlTokenKind::Comment;
}

int NextSignificant(const std::vector<SqlToken>& tokens, int i) {
  for (++i; i < int(tokens.size()); ++i)
    if (Significant(tokens[size_t(i)])) return i;
  return -1;
}

bool IsSymbol(const QString& sql, const SqlToken& token, char symbol) {
  return token.kind == SqlTokenKind::Symbol && sql.at(token.begin) == QLatin1Char(symbol);
}

bool IsName(const SqlToken& token) {
  return token.kind == SqlTokenKind::Word || token.kind == SqlTokenKind::QuotedName ||
         token.kind == SqlTokenKind::String;
}

// What the confined creation may do: the one virtual table and the shadow
// tables its module makes.
struct Confinement {
  QByteArray name;    // the virtual table, lower case UTF-8
  QByteArray module;  // its module, lower case UTF-8
};

bool SameText(const char* text, const QByteArray& lower) {
  return text != nullptr && QByteArray(text).toLower() == lower;
}

bool StartsWith(const char* text, const QByteArray& lowerPrefix) {
  return text != nullptr && QByteArray(text).toLower().startsWith(lowerPrefix);
}

bool IsSchemaTable(const char* table) {
  return table != nullptr &&
         (qstricmp(table, "sqlite_master") == 0 || qstricmp(table, "sqlite_schema") == 0);
}

int VirtualTableAuthorizer(void* data, int action, const char* arg1, const char* arg2,
                           const char* database, const char*) {
  const auto* c = static_cast<const Confinement*>(data);
  const bool mainDb = database == nullptr || qstrcmp(database, "main") == 0;
  const QByteArray shadowPrefix = c->name + '_';
  switch (action) {
    case SQLITE_CREATE_VTABLE:
      return mainDb && SameText(arg1, c->name) && SameText(arg2, c->module) ? SQLITE_OK
                                                                            : SQLITE_DENY;
    case SQLITE_CREATE_TABLE:
      return mainDb && StartsWith(arg1, shadowPrefix) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_CREATE_INDEX:
      // Only the automatic index of a shadow table's key.
      return mainDb && StartsWith(arg1, "sqlite_autoindex_" + shadowPrefix) &&
                     StartsWith(arg2, shadowPrefix)
                 ? SQLITE_OK
                 : SQLITE_DENY;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
    case SQLITE_READ:
      // The schema rows of the new tables and the module's first rows.
      return mainDb && (IsSchemaTable(arg1) || StartsWith(arg1, shadowPrefix)) ? SQLITE_OK
                                                                               : SQLITE_DENY;
    case SQLITE_PRAGMA:
      // Read-only settings the modules ask for.
      return arg2 == nullptr &&
                     (qstricmp(arg1, "data_version") == 0 || qstricmp(arg1, "page_size") == 0)
                 ? SQLITE_OK
                 : SQLITE_DENY;
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
      return SQLITE_OK;
    default:  // ATTACH, other pragmas, views, triggers, temporary objects, ...
      return SQLITE_DENY;
  }
}

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs `sql` with the texts `binds` bound as ?1, ?2, ...; the first column
// of its first row (0 without a row), or -1 when it fails.
std::int64_t BoundScalar(sqlite3* db, const char* sql, const QList<QByteArray>& binds) {
  Statement stmt;
  std::int64_t result = -1;
  if (stmt.Prepare(db, sql) == SQLITE_OK) {
    for (int i = 0; i < binds.size(); ++i)
      sqlite3_bind_text(stmt, i + 1, binds[i].constData(), int(binds[i].size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
      result = sqlite3_column_int64(stmt, 0);
    else if (rc == SQLITE_DONE)
      result = 0;
  }
  return result;
}

// Runs `sql` with the texts `binds` bound; the first column of its first row
// as text (empty without one), *ok false when it fails.
QString BoundText(sqlite3* db, const char* sql, const QList<QByteArray>& binds, bool* ok) {
  Statement stmt;
  QString result;
  *ok = false;
  if (stmt.Prepare(db, sql) == SQLITE_OK) {
    for (int i = 0; i < binds.size(); ++i)
      sqlite3_bind_text(stmt, i + 1, binds[i].constData(), int(binds[i].size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    *ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (rc == SQLITE_ROW && sqlite3_column_type(stmt, 0) != SQLITE_NULL)
      result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  }
  return result;
}

// Changes sqlite_schema in a savepoint with writable_schema on: `change` (with
// `binds`) must change exactly one row; the schema version is raised so that
// the library reads the schema again, and `check` (true: keep) decides. On any
// failure everything is undone and *error says why.
bool ChangeSchemaRow(sqlite3* db, const char* change, const QList<QByteArray>& binds,
                     const std::function<bool()>& check, QString* error) {
  error->clear();
  if (!Exec(db, "SAVEPOINT velmora_schema_row")) {
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
  }
  int defensive = 0;
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, -1, &defensive);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
  const std::int64_t version = BoundScalar(db, "PRAGMA schema_version", {});
  bool ok = version >= 0 && Exec(db, "PRAGMA writable_schema=ON") &&
            BoundScalar(db, change, binds) == 0 && sqlite3_changes(db) == 1;
  // A new schema version makes the library read the schema again, the
  // changed row with it: a statement it cannot read shows here, not in the
  // saved file.
  ok = ok &&
       Exec(db, ("PRAGMA schema_version=" + QByteArray::number(qint64(version) + 1)).constData());
  Exec(db, "PRAGMA writable_schema=RESET");
  if (!ok) *error = QString::fromUtf8(sqlite3_errmsg(db));
  if (ok && !check()) {
    ok = false;
    if (error->isEmpty()) *error = QString::fromUtf8(sqlite3_errmsg(db));
  }
  if (!ok) {
    Exec(db, "ROLLBACK TO velmora_schema_row");
    Exec(db, "PRAGMA writable_schema=RESET");
  }
  Exec(db, "RELEASE velmora_schema_row");
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, defensive, nullptr);
  return ok;
}

}  // namespace

VirtualTableStatement ParseVirtualTable(const QString& sql) {
  VirtualTableStatement result;
  const std::vector<SqlToken> tokens = TokenizeSql(sql);
  int i = NextSignificant(tokens, -1);
  const char* const opening[] = {"CREATE", "VIRTUAL", "TABLE"};
  for (const char* word : opening) {
    if (i < 0 || !IsSqlKeyword(sql, tokens[size_t(i)], word)) return result;
    i = NextSignificant(tokens, i);
  }
  if (i >= 0 && IsSqlKeyword(sql, tokens[size_t(i)], "IF")) {
    for (int k = 0; k < 3 && i >= 0; ++k) i = NextSignificant(tokens, i);  // IF NOT EXISTS
  }
  if (i < 0 || !IsName(tokens[size_t(i)])) return result;
  result.name = SqlTokenName(sql, tokens[size_t(i)]);
  i = NextSignificant(tokens, i);
  if (i >= 0 && IsSymbol(sql, tokens[size_t(i)], '.')) {  // schema.name
    i = NextSignificant(tokens, i);
    if (i < 0 || !IsName(tokens[size_t(i)])) return result;
    result.name = SqlTokenName(sql, tokens[size_t(i)]);
    i = NextSignificant(tokens, i);
  }
  if (i < 0 || !IsSqlKeyword(sql, tokens[size_t(i)], "USING")) return result;
  i = NextSignificant(tokens, i);
  if (i < 0 || tokens[size_t(i)].kind != SqlTokenKind::Word) return result;
  result.module = SqlTokenName(sql, tokens[size_t(i)]).toLower();
  i = NextSignificant(tokens, i);
  if (i >= 0 && IsSymbol(sql, tokens[size_t(i)], '(')) {
    // The arguments: the text between the commas outside inner parentheses.
    int depth = 0;
    int start = tokens[size_t(i)].End();
    bool closed = false;
    for (int k = i + 1; k < int(tokens.size()) && !closed; ++k) {
      const SqlToken& token = tokens[size_t(k)];
      if (IsSymbol(sql, token, '(')) ++depth;
      const bool close = IsSymbol(sql, token, ')') && depth-- == 0;
      if (close || (depth == 0 && IsSymbol(sql, token, ','))) {
        const QString arg = sql.mid(start, token.begin - start).trimmed();
        if (!arg.isEmpty()) result.args << arg;
        start = token.End();
        closed = close;
      }
    }
    if (!closed) return result;
  }
  result.found = !result.name.isEmpty() && !result.module.isEmpty();
  return result;
}

bool IsRecreatableModule(sqlite3* db, const QString& module) {
  bool listed = false;
  for (const char* known : kRecreatable)
    listed = listed || module.compare(QLatin1String(known), Qt::CaseInsensitive) == 0;
  if (!listed || db == nullptr) return false;
  Statement stmt;
  bool present = false;
  if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_module_list WHERE name = lower(?1)", -1,
                         stmt.Out(), nullptr) == SQLITE_OK) {
    const QByteArray utf8 = ToUtf8(module);
    sqlite3_bind_text(stmt, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    present = sqlite3_step(stmt) == SQLITE_ROW;
  }
  return present;
}

QStringList ShadowTableSuffixes(const QString& module) {
  const QString m = module.toLower();
  if (m == QLatin1String("fts5"))
    return {QStringLiteral("data"), QStringLiteral("idx"), QStringLiteral("content"),
            QStringLiteral("docsize"), QStringLiteral("config")};
  if (m == QLatin1String("fts3") || m == QLatin1String("fts4"))
    return {QStringLiteral("content"), QStringLiteral("segments"), QStringLiteral("segdir"),
            QStringLiteral("docsize"), QStringLiteral("stat")};
  if (m == QLatin1String("rtree") || m == QLatin1String("rtree_i32") ||
      m == QLatin1String("geopoly"))
    return {QStringLiteral("node"), QStringLiteral("rowid"), QStringLiteral("parent")};
  return {};
}

bool IsShadowTableOf(const QString& table, const QString& virtualName, const QString& module) {
  const QString prefix = virtualName + QLatin1Char('_');
  if (!table.startsWith(prefix, Qt::CaseInsensitive)) return false;
  return ShadowTableSuffixes(module).contains(table.mid(prefix.size()).toLower());
}

QString ExternalContent(const VirtualTableStatement& statement) {
  for (const QString& arg : statement.args) {
    const qsizetype eq = arg.indexOf(QLatin1Char('='));
    if (eq <= 0 || arg.left(eq).trimmed().compare(QLatin1String("content"), Qt::CaseInsensitive))
      continue;
    const QString value = arg.mid(eq + 1).trimmed();
    const bool empty =
        value.isEmpty() || value == QLatin1String("''") || value == QLatin1String("\"\"");
    return empty ? QStringLiteral("content=''") : QStringLiteral("content=") + value;
  }
  return QString();
}

bool CreateVirtualTableConfined(sqlite3* db, const QString& sql, const QString& expectName,
                                QString* error) {
  const VirtualTableStatement statement = ParseVirtualTable(sql);
  if (!statement.found || statement.name.compare(expectName, Qt::CaseInsensitive) != 0) {
    *error = QStringLiteral("the statement is not a CREATE VIRTUAL TABLE for this table");
    return false;
  }
  if (!IsRecreatableModule(db, statement.module)) {
    *error =
        QStringLiteral("the module %1 is not one this program recreates").arg(statement.module);
    return false;
  }
  Confinement confinement{ToUtf8(statement.name).toLower(), ToUtf8(statement.module).toLower()};
  const QByteArray utf8 = ToUtf8(sql);
  sqlite3_set_authorizer(db, VirtualTableAuthorizer, &confinement);
  Statement stmt;
  const char* tail = nullptr;
  bool ok = false;
  if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), stmt.Out(), &tail) != SQLITE_OK ||
      stmt == nullptr) {
    *error = QString::fromUtf8(sqlite3_errmsg(db));
  } else {
    const int rc = sqlite3_step(stmt);
    ok = rc == SQLITE_DONE;
    if (!ok) *error = QString::fromUtf8(sqlite3_errmsg(db));
  }
  sqlite3_set_authorizer(db, nullptr, nullptr);
  return ok;
}

bool WriteVirtualTableRow(sqlite3* db, const QString& name, const QString& tableName,
                          const QString& sql, QString* error) {
  const VirtualTableStatement statement = ParseVirtualTable(sql);
  if (db == nullptr || !statement.found || statement.name.compare(name, Qt::CaseInsensitive) != 0) {
    *error = QStringLiteral("the statement is not a CREATE VIRTUAL TABLE for this table");
    return false;
  }
  const QByteArray nameUtf8 = ToUtf8(name);
  if (BoundScalar(db, "SELECT count(*) FROM sqlite_schema WHERE lower(name) = lower(?1)",
                  {nameUtf8}) != 0) {
    *error = QStringLiteral("an object of that name is already in the recovered database");
    return false;
  }
  return ChangeSchemaRow(
      db,
      "INSERT INTO sqlite_schema(type, name, tbl_name, rootpage, sql) "
      "VALUES('table', ?1, ?2, 0, ?3)",
      {nameUtf8, ToUtf8(tableName), ToUtf8(sql)},
      [&] {
        return BoundScalar(db, "SELECT count(*) FROM sqlite_schema WHERE name = ?1", {nameUtf8}) ==
               1;
      },
      error);
}

bool RestoreShadowStatement(sqlite3* db, const QString& table, const QString& sql, QString* error) {
  if (db == nullptr) {
    *error = QStringLiteral("the database is not open");
    return false;
  }
  const QByteArray nameUtf8 = ToUtf8(table);
  const char* const shape =
      "SELECT group_concat(name || ':' || pk, ',') FROM "
      "(SELECT name, pk FROM pragma_table_info(?1, 'main') ORDER BY cid)";
  bool ok = false;
  const QString before = BoundText(db, shape, {nameUtf8}, &ok);
  if (!ok || before.isEmpty()) {
    *error = QStringLiteral("the table is not in the recovered database");
    return false;
  }
  return ChangeSchemaRow(
      db, "UPDATE sqlite_schema SET sql = ?2 WHERE type = 'table' AND name = ?1",
      {nameUtf8, ToUtf8(sql)},
      [&] {
        bool read = false;
        if (BoundText(db, shape, {nameUtf8}, &read) != before || !read) {
          *error = QStringLiteral("the statement stores other columns or another key");
          return false;
        }
        const QString check = BoundText(db,
                                        "SELECT group_concat(integrity_check, '; ') FROM "
                                        "pragma_integrity_check(?1)",
                                        {nameUtf8}, &read);
        if (!read || check != QLatin1String("ok")) {
          *error = QStringLiteral("the integrity check failed: ") + check.left(300);
          return false;
        }
        return true;
      },
      error);
}

}  // namespace velmora
