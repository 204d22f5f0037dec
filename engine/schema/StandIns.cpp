#include "engine/schema/StandIns.h"

#include <sqlite3.h>

#include <QRegularExpression>
#include <QSet>
#include <cstring>
#include <map>
#include <mutex>

#include "engine/core/SqlQuote.h"
#include "engine/schema/SqliteDb.h"

namespace velmora {

// ---------------------------------------------------------------------------
// Tokens

namespace {

bool IsWordStart(QChar c) { return c.isLetter() || c == QLatin1Char('_') || c.unicode() >= 0x80; }

bool IsWordPart(QChar c) {
  return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') ||
         c.unicode() >= 0x80;
}

// The end of a quoted token opened at `at` by `open` and closed by `close`;
// a doubled closing quote stands for one (not inside [..]). Sets *complete
// to false when the text ends first.
int QuotedEnd(const QString& sql, int at, QChar close, bool doubles, bool* complete) {
  const int size = int(sql.size());
  for (int i = at + 1; i < size; ++i) {
    if (sql.at(i) != close) continue;
    if (doubles && i + 1 < size && sql.at(i + 1) == close) {
      ++i;
      continue;
    }
    return i + 1;
  }
  *complete = false;
  return size;
}

bool IsSymbol(const QString& sql, const SqlToken& token, char symbol) {
  return token.kind == SqlTokenKind::Symbol && sql.at(token.begin) == QLatin1Char(symbol);
}

bool Significant(const SqlToken& token) {
  return token.kind != SqlTokenKind::Space && token.kind != SqlTokenKind::Comment;
}

// The index of the next significant token after `i`, or -1.
int NextSignificant(const std::vector<SqlToken>& tokens, int i, int last) {
  for (++i; i <= last; ++i)
    if (Significant(tokens[size_t(i)])) return i;
  return -1;
}

// The index of the ")" that closes the "(" at `open`, or -1.
int MatchingClose(const QString& sql, const std::vector<SqlToken>& tokens, int open) {
  int depth = 0;
  for (int i = open; i < int(tokens.size()); ++i) {
    if (IsSymbol(sql, tokens[size_t(i)], '(')) ++depth;
    if (IsSymbol(sql, tokens[size_t(i)], ')') && --depth == 0) return i;
  }
  return -1;
}

bool IsName(const SqlToken& token) {
  return token.kind == SqlTokenKind::Word || token.kind == SqlTokenKind::QuotedName;
}

bool ContainsName(const QStringList& names, const QString& name) {
  return names.contains(name, Qt::CaseInsensitive);
}

}  // namespace

std::vector<SqlToken> TokenizeSql(const QString& sql) {
  std::vector<SqlToken> tokens;
  const int size = int(sql.size());
  int at = 0;
  while (at < size) {
    SqlToken token;
    token.begin = at;
    const QChar c = sql.at(at);
    const QChar next = at + 1 < size ? sql.at(at + 1) : QChar();
    int end = at + 1;
    if (c.isSpace()) {
      token.kind = SqlTokenKind::Space;
      while (end < size && sql.at(end).isSpace()) ++end;
    } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
      token.kind = SqlTokenKind::Comment;
      end = int(sql.indexOf(QLatin1Char('\n'), at));
      if (end < 0) end = size;
    } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
      token.kind = SqlTokenKind::Comment;
      end = int(sql.indexOf(QLatin1String("*/"), at + 2));
      if (end < 0) {
        token.complete = false;
        end = size;
      } else {
        end += 2;
      }
    } else if (c == QLatin1Char('"') || c == QLatin1Char('`')) {
      token.kind = SqlTokenKind::QuotedName;
      end = QuotedEnd(sql, at, c, true, &token.complete);
    } else if (c == QLatin1Char('[')) {
      token.kind = SqlTokenKind::QuotedName;
      end = QuotedEnd(sql, at, QLatin1Char(']'), false, &token.complete);
    } else if (c == QLatin1Char('\'')) {
      token.kind = SqlTokenKind::String;
      end = QuotedEnd(sql, at, c, true, &token.complete);
    } else if ((c == QLatin1Char('x') || c == QLatin1Char('X')) && next == QLatin1Char('\'')) {
      token.kind = SqlTokenKind::Blob;
      end = QuotedEnd(sql, at + 1, next, false, &token.complete);
    } else if (c.isDigit() || (c == QLatin1Char('.') && next.isDigit())) {
      token.kind = SqlTokenKind::Number;
      while (end < size) {
        const QChar d = sql.at(end);
        const QChar before = sql.at(end - 1);
        const bool sign = (d == QLatin1Char('+') || d == QLatin1Char('-')) &&
                          (before == QLatin1Char('e') || before == QLatin1Char('E')) &&
                          !sql.mid(at, 2).startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
        if (!d.isLetterOrNumber() && d != QLatin1Char('.') && d != QLatin1Char('_') && !sign) break;
        ++end;
      }
    } else if (IsWordStart(c)) {
      token.kind = SqlTokenKind::Word;
      while (end < size && IsWordPart(sql.at(end))) ++end;
    } else {
      token.kind = SqlTokenKind::Symbol;
    }
    token.length = end - at;
    tokens.push_back(token);
    at = end;
  }
  return tokens;
}

QString SqlTokenName(const QString& sql, const SqlToken& token) {
  const QString text = sql.mid(token.begin, token.length);
  switch (token.kind) {
    case SqlTokenKind::Word:
      return text;
    case SqlTokenKind::QuotedName:
    case SqlTokenKind::String: {
      const QChar open = text.at(0);
      const QChar close = open == QLatin1Char('[') ? QLatin1Char(']') : open;
      QString inner = text.mid(1, token.complete ? text.size() - 2 : text.size() - 1);
      if (open != QLatin1Char('[')) inner.replace(QString(2, close), QString(close));
      return inner;
    }
    default:
      return QString();
  }
}

bool IsSqlKeyword(const QString& sql, const SqlToken& token, const char* keyword) {
  return token.kind == SqlTokenKind::Word && int(std::strlen(keyword)) == token.length &&
         QStringView(sql)
                 .mid(token.begin, token.length)
                 .compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

TableDefinitions SplitTableDefinitions(const QString& sql, const std::vector<SqlToken>& tokens) {
  TableDefinitions result;
  const int last = int(tokens.size()) - 1;
  for (const SqlToken& token : tokens)
    if (!token.complete) return result;
  int i = NextSignificant(tokens, -1, last);
  if (i < 0 || !IsSqlKeyword(sql, tokens[size_t(i)], "CREATE")) return result;
  i = NextSignificant(tokens, i, last);
  if (i >= 0 && (IsSqlKeyword(sql, tokens[size_t(i)], "TEMP") ||
                 IsSqlKeyword(sql, tokens[size_t(i)], "TEMPORARY")))
    i = NextSignificant(tokens, i, last);
  if (i < 0 || !IsSqlKeyword(sql, tokens[size_t(i)], "TABLE")) return result;
  // The name ([IF NOT EXISTS] [schema.]name) ends at the first "(";
  // "CREATE TABLE x AS SELECT ..." has no definitions.
  for (i = NextSignificant(tokens, i, last); i >= 0; i = NextSignificant(tokens, i, last)) {
    if (IsSqlKeyword(sql, tokens[size_t(i)], "AS")) return result;
    if (IsSymbol(sql, tokens[size_t(i)], '(')) break;
  }
  if (i < 0) return result;
  const int close = MatchingClose(sql, tokens, i);
  if (close < 0) return result;
  int first = -1;
  int previous = -1;
  int depth = 0;
  for (int k = NextSignificant(tokens, i, close); k >= 0; k = NextSignificant(tokens, k, close)) {
    const SqlToken& token = tokens[size_t(k)];
    const bool end = depth == 0 && (k == close || IsSymbol(sql, token, ','));
    if (end) {
      if (first < 0) return result;  // an empty definition: "(a,,b)" or "()"
      result.definitions.emplace_back(first, previous);
      first = -1;
      if (k == close) break;
      continue;
    }
    if (IsSymbol(sql, token, '(')) ++depth;
    if (IsSymbol(sql, token, ')')) --depth;
    if (first < 0) first = k;
    previous = k;
  }
  result.open = i;
  result.close = close;
  result.found = true;
  return result;
}

// ---------------------------------------------------------------------------
// Stand-in collations and functions

namespace {

struct StandInNames {
  QStringList collations;
  QStringList functions;
};

// The names supplied per connection. A connection's entry is removed when the
// connection closes (the destructor of a private collation registered with it),
// so that a new connection at the same address starts empty.
std::mutex g_standInMutex;
std::map<sqlite3*, StandInNames> g_standIns;

constexpr char kRegistryCollation[] = "velmora stand-in registry";
constexpr int kMaxFunctionTries = 32;

void ForgetConnection(void* db) {
  std::lock_guard<std::mutex> lock(g_standInMutex);
  g_standIns.erase(static_cast<sqlite3*>(db));
}

int BinaryCompare(void*, int leftSize, const void* left, int rightSize, const void* right) {
  const int common = leftSize < rightSize ? leftSize : rightSize;
  const int order = common > 0 ? std::memcmp(left, right, size_t(common)) : 0;
  if (order != 0) return order;
  return leftSize - rightSize;
}

// Makes sure db has an entry that goes away with the connection.
void Register(sqlite3* db) {
  {
    std::lock_guard<std::mutex> lock(g_standInMutex);
    if (g_standIns.count(db) != 0) return;
    g_standIns[db];
  }
  if (sqlite3_create_collation_v2(db, kRegistryCollation, SQLITE_UTF8, db, BinaryCompare,
                                  ForgetConnection) != SQLITE_OK)
    ForgetConnection(db);  // the entry cannot be tied to the connection
}

void Remember(sqlite3* db, QStringList StandInNames::*list, const QString& name) {
  std::lock_guard<std::mutex> lock(g_standInMutex);
  auto found = g_standIns.find(db);
  if (found == g_standIns.end()) return;
  QStringList& names = found->second.*list;
  if (!ContainsName(names, name)) names.append(name);
}

void CollationNeeded(void*, sqlite3* db, int textRep, const char* name) {
  if (name == nullptr) return;
  if (sqlite3_create_collation_v2(db, name, SQLITE_UTF8, nullptr, BinaryCompare, nullptr) !=
      SQLITE_OK)
    return;
  if (textRep == SQLITE_UTF16LE || textRep == SQLITE_UTF16BE || textRep == SQLITE_UTF16)
    sqlite3_create_collation_v2(db, name, textRep, nullptr, BinaryCompare, nullptr);
  Remember(db, &StandInNames::collations, QString::fromUtf8(name));
}

void ReturnNull(sqlite3_context* context, int, sqlite3_value**) { sqlite3_result_null(context); }

QStringList Names(sqlite3* db, QStringList StandInNames::*list) {
  std::lock_guard<std::mutex> lock(g_standInMutex);
  auto found = g_standIns.find(db);
  return found == g_standIns.end() ? QStringList() : found->second.*list;
}

QString ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text == nullptr ? QString() : QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
}

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs `sql` with `arg` bound to ?1 (when not null) and returns the rows'
// first `columns` columns as texts; *ok false when it fails.
std::vector<QStringList> Rows(sqlite3* db, const char* sql, const QString& arg, int columns,
                              bool* ok) {
  std::vector<QStringList> rows;
  Statement stmt;
  *ok = sqlite3_prepare_v2(db, sql, -1, stmt.Out(), nullptr) == SQLITE_OK && stmt != nullptr;
  if (*ok) {
    const QByteArray utf8 = arg.toUtf8();
    if (!arg.isNull())
      sqlite3_bind_text(stmt, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      QStringList row;
      for (int c = 0; c < columns; ++c) row << ColumnText(stmt, c);
      rows.push_back(row);
    }
    *ok = rc == SQLITE_DONE;
  }
  return rows;
}

// True when `sql` names one of the collations after COLLATE or calls one of
// the functions.
bool NamesStandIn(const QString& sql, const QStringList& collations, const QStringList& functions) {
  const std::vector<SqlToken> tokens = TokenizeSql(sql);
  const int last = int(tokens.size()) - 1;
  for (int i = NextSignificant(tokens, -1, last); i >= 0;) {
    const int next = NextSignificant(tokens, i, last);
    if (next < 0) break;
    const SqlToken& token = tokens[size_t(i)];
    const SqlToken& following = tokens[size_t(next)];
    if (IsSqlKeyword(sql, token, "COLLATE") &&
        ContainsName(collations, SqlTokenName(sql, following)) &&
        (IsName(following) || following.kind == SqlTokenKind::String))
      return true;
    if (IsName(token) && IsSymbol(sql, following, '(') &&
        ContainsName(functions, SqlTokenName(sql, token)))
      return true;
    i = next;
  }
  return false;
}

// When the last error of db is "no such function: NAME" (a statement naming
// it) or "unknown function: NAME()" (an expression of the schema compiled),
// registers a stand-in NAME (any number of arguments, deterministic,
// innocuous, returns NULL) and returns NAME; otherwise returns an empty text.
QString SupplyFunction(sqlite3* db) {
  const QByteArray message(sqlite3_errmsg(db));
  QByteArray name;
  if (message.startsWith("no such function: ")) {
    name = message.mid(18);
  } else if (message.startsWith("unknown function: ") && message.endsWith("()")) {
    name = message.mid(18, message.size() - 20);
  }
  if (name.isEmpty()) return QString();
  if (!message.startsWith("no such function: ")) {
    // Compiled from the schema, the expression was not checked against the
    // functions there are: a function of that name with another number of
    // arguments gives this error too, and a stand-in would take its place.
    // Supplied only when the list of functions says there is none.
    Statement probe;
    bool known = true;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_function_list WHERE name = ?1 COLLATE NOCASE",
                           -1, probe.Out(), nullptr) == SQLITE_OK) {
      sqlite3_bind_text(probe, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
      known = sqlite3_step(probe) != SQLITE_DONE;
    }
    if (known) return QString();
  }
  if (sqlite3_create_function_v2(db, name.constData(), -1,
                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                 ReturnNull, nullptr, nullptr, nullptr) != SQLITE_OK)
    return QString();
  const QString text = QString::fromUtf8(name);
  Register(db);
  Remember(db, &StandInNames::functions, text);
  return text;
}

// The table's stored columns (all but the VIRTUAL generated ones) as
// "name type", in record order; *ok false when the table cannot be read.
QStringList StoredColumns(sqlite3* db, const QString& table, bool* ok, bool withTypes = true) {
  QStringList columns;
  for (const QStringList& row :
       Rows(db, "SELECT name, type, hidden FROM pragma_table_xinfo(?1, 'main') ORDER BY cid", table,
            3, ok)) {
    if (row[2] != QLatin1String("2") && row[2] != QLatin1String("1"))
      columns << (withTypes ? row[0] + QLatin1Char(' ') + row[1] : row[0]);
  }
  return columns;
}

}  // namespace

void InstallStandInCollations(sqlite3* db) {
  if (db == nullptr) return;
  Register(db);
  sqlite3_collation_needed(db, nullptr, CollationNeeded);
}

QStringList StandInCollations(sqlite3* db) { return Names(db, &StandInNames::collations); }

QStringList StandInFunctions(sqlite3* db) { return Names(db, &StandInNames::functions); }

int PrepareWithStandIns(sqlite3* db, const QByteArray& sqlUtf8, sqlite3_stmt** stmt,
                        const char** tail, QStringList* standInFunctions) {
  *stmt = nullptr;
  if (db == nullptr) return SQLITE_MISUSE;
  int rc = SQLITE_OK;
  for (int attempt = 0;; ++attempt) {
    rc = sqlite3_prepare_v2(db, sqlUtf8.constData(), int(sqlUtf8.size()), stmt, tail);
    if (rc == SQLITE_OK || attempt >= kMaxFunctionTries) break;
    const QString name = SupplyFunction(db);
    if (name.isEmpty()) {
      // Keep the prepare's own message for the caller.
      rc = sqlite3_prepare_v2(db, sqlUtf8.constData(), int(sqlUtf8.size()), stmt, tail);
      break;
    }
    if (standInFunctions != nullptr && !ContainsName(*standInFunctions, name))
      standInFunctions->append(name);
  }
  return rc;
}

PlainTable PlainTableForFilling(const QString& createTableSql) {
  PlainTable plain;
  plain.sql = createTableSql;
  const QString& sql = createTableSql;
  const std::vector<SqlToken> tokens = TokenizeSql(sql);
  const TableDefinitions defs = SplitTableDefinitions(sql, tokens);
  if (!defs.found) return plain;

  struct Cut {
    int begin;
    int end;
  };
  std::vector<Cut> cuts;
  std::vector<bool> removed(defs.definitions.size(), false);
  QStringList unsure;
  for (size_t d = 0; d < defs.definitions.size(); ++d) {
    const auto [first, last] = defs.definitions[d];
    const SqlToken& head = tokens[size_t(first)];
    static const char* const kTableConstraints[] = {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK",
                                                    "FOREIGN"};
    bool constraint = false;
    for (const char* keyword : kTableConstraints) constraint |= IsSqlKeyword(sql, head, keyword);
    if (constraint) continue;
    const QString name = SqlTokenName(sql, head);
    // The significant tokens of the column definition outside parentheses.
    std::vector<int> top;
    int as = -1;
    bool keyed = false;
    for (int k = first; k >= 0 && k <= last; k = NextSignificant(tokens, k, last)) {
      if (IsSymbol(sql, tokens[size_t(k)], '(')) {
        top.push_back(k);
        k = MatchingClose(sql, tokens, k);
        if (k < 0) return plain;
        top.push_back(k);
        continue;
      }
      if (k != first && as < 0 && IsSqlKeyword(sql, tokens[size_t(k)], "AS")) as = int(top.size());
      keyed |= IsSqlKeyword(sql, tokens[size_t(k)], "UNIQUE") ||
               IsSqlKeyword(sql, tokens[size_t(k)], "PRIMARY");
      top.push_back(k);
    }
    if (as < 0) continue;
    // [CONSTRAINT name] [GENERATED ALWAYS] AS ( expr ) [STORED | VIRTUAL]
    int start = as;
    if (start >= 3 && IsSqlKeyword(sql, tokens[size_t(top[size_t(start - 1)])], "ALWAYS") &&
        IsSqlKeyword(sql, tokens[size_t(top[size_t(start - 2)])], "GENERATED"))
      start -= 2;
    if (start >= 3 && IsSqlKeyword(sql, tokens[size_t(top[size_t(start - 2)])], "CONSTRAINT"))
      start -= 2;
    if (size_t(as + 2) >= top.size() || !IsSymbol(sql, tokens[size_t(top[size_t(as + 1)])], '(')) {
      unsure << QStringLiteral("the generated column %1 cannot be read").arg(name);
      continue;
    }
    int end = as + 2;  // the ")" closing the expression
    bool stored = false;
    if (size_t(end + 1) < top.size()) {
      const SqlToken& kind = tokens[size_t(top[size_t(end + 1)])];
      stored = IsSqlKeyword(sql, kind, "STORED");
      if (stored || IsSqlKeyword(sql, kind, "VIRTUAL")) ++end;
    }
    if (stored) {
      plain.storedGenerated << name;
      cuts.push_back(
          {tokens[size_t(top[size_t(start - 1)])].End(), tokens[size_t(top[size_t(end)])].End()});
      continue;
    }
    plain.virtualGenerated << name;
    if (keyed) unsure << QStringLiteral("the virtual column %1 is part of a key").arg(name);
    removed[d] = true;
  }
  if (plain.storedGenerated.isEmpty() && plain.virtualGenerated.isEmpty()) return plain;

  // A removed definition takes the comma before it along (what stands between
  // the two kept), or the one after it when no kept definition comes before it.
  bool keptBefore = false;
  bool keptAny = false;
  for (size_t d = 0; d < defs.definitions.size(); ++d) {
    if (!removed[d]) {
      keptBefore = keptAny = true;
      continue;
    }
    const auto [first, last] = defs.definitions[d];
    if (keptBefore) {
      int comma = first;
      while (comma > 0 && !IsSymbol(sql, tokens[size_t(comma)], ',')) --comma;
      cuts.push_back({tokens[size_t(comma)].begin, tokens[size_t(last)].End()});
    } else if (d + 1 < defs.definitions.size())
      cuts.push_back(
          {tokens[size_t(first)].begin, tokens[size_t(defs.definitions[d + 1].first)].begin});
  }
  if (!keptAny) unsure << QStringLiteral("no column would remain");

  auto isCut = [&cuts](int at) {
    for (const Cut& cut : cuts)
      if (at >= cut.begin && at < cut.end) return true;
    return false;
  };
  for (int k = defs.open; k <= defs.close; ++k) {
    const SqlToken& token = tokens[size_t(k)];
    if (!IsName(token) || isCut(token.begin)) continue;
    const QString name = SqlTokenName(sql, token);
    if (ContainsName(plain.virtualGenerated, name)) {
      unsure
          << QStringLiteral("the virtual column %1 is named elsewhere in the statement").arg(name);
      break;
    }
  }
  if (!unsure.isEmpty()) {
    plain.unsure = unsure.join(QLatin1String("; "));
    return plain;
  }
  std::sort(cuts.begin(), cuts.end(), [](const Cut& a, const Cut& b) { return a.begin < b.begin; });
  QString result;
  int at = 0;
  for (const Cut& cut : cuts) {
    result += QStringView(sql).mid(at, cut.begin - at);
    at = std::max(at, cut.end);
  }
  result += QStringView(sql).mid(at);
  plain.changed = result != sql;
  plain.sql = result;
  return plain;
}

bool RestoreOriginalStatement(sqlite3* db, const QString& table, const QString& originalSql,
                              QString* error, bool typesMayDiffer) {
  QString message;
  if (error == nullptr) error = &message;
  if (db == nullptr) {
    *error = QStringLiteral("the database is not open");
    return false;
  }
  bool ok = false;
  const QStringList before = StoredColumns(db, table, &ok, !typesMayDiffer);
  if (!ok || before.isEmpty()) {
    *error = QStringLiteral("the table %1 is not in the database").arg(QuoteIdentifier(table));
    return false;
  }
  if (!Exec(db, "SAVEPOINT velmora_restore_statement")) {
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
  }
  int defensive = 0;
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, -1, &defensive);
  auto fail = [&](const QString& why) {
    *error = why;
    return false;
  };
  const bool restored = [&]() -> bool {
    const std::vector<QStringList> version = Rows(db, "PRAGMA schema_version", QString(), 1, &ok);
    if (!ok || version.empty()) return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
    if (!Exec(db, "PRAGMA writable_schema=ON")) return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    int changes = 0;
    {
      // Finalized before the schema version changes.
      Statement stmt(db, "UPDATE sqlite_schema SET sql = ?1 WHERE type = 'table' AND name = ?2");
      if (stmt.Ok()) {
        const QByteArray sqlUtf8 = originalSql.toUtf8();
        const QByteArray name = table.toUtf8();
        sqlite3_bind_text(stmt, 1, sqlUtf8.constData(), int(sqlUtf8.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        if (stmt.Step() == SQLITE_DONE) changes = sqlite3_changes(db);
      }
    }
    if (changes != 1) return fail(QStringLiteral("its schema row could not be changed"));
    const QByteArray bump = QByteArrayLiteral("PRAGMA schema_version=") +
                            QByteArray::number(version[0][0].toLongLong() + 1);
    if (!Exec(db, bump.constData())) return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    Exec(db, "PRAGMA writable_schema=OFF");
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, defensive, nullptr);
    // Reading the columns reloads the schema with the new statement.
    // Functions the statement calls that the library lacks get stand-ins.
    QStringList after;
    for (int attempt = 0; attempt < kMaxFunctionTries; ++attempt) {
      after = StoredColumns(db, table, &ok, !typesMayDiffer);
      if (ok || SupplyFunction(db).isEmpty()) break;
    }
    if (!ok)
      return fail(QStringLiteral("the statement cannot be used: ") +
                  QString::fromUtf8(sqlite3_errmsg(db)));
    if (after != before)
      return fail(QStringLiteral("the statement stores other columns than the table holds"));
    // Compiling a read of every column compiles the generated columns' expressions.
    const QByteArray readAll = (QStringLiteral("SELECT * FROM ") + QuoteIdentifier(table)).toUtf8();
    // Prepared only to be compiled: the statement is finalized at once.
    const int rc = PrepareWithStandIns(db, readAll, Statement().Out(), nullptr, nullptr);
    if (rc != SQLITE_OK)
      return fail(QStringLiteral("the statement cannot be used: ") +
                  QString::fromUtf8(sqlite3_errmsg(db)));
    std::vector<QStringList> check;
    for (int attempt = 0; attempt < kMaxFunctionTries; ++attempt) {
      check = Rows(db, "SELECT * FROM pragma_integrity_check(?1)", table, 1, &ok);
      if (ok || SupplyFunction(db).isEmpty()) break;
    }
    if (!ok) return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    // With other declared types, values of another class than the type
    // declares are the file's own (the check finds them in the file too).
    static const QRegularExpression foreignValue(
        QStringLiteral("^(NUMERIC|TEXT|BLOB|INTEGER|REAL) value in "));
    for (const QStringList& line : check) {
      if (line[0] == QLatin1String("ok") ||
          line[0].startsWith(QLatin1String("CHECK constraint failed in ")) ||
          (typesMayDiffer && foreignValue.match(line[0]).hasMatch()))
        continue;
      return fail(QStringLiteral("the integrity check failed: ") + line[0]);
    }
    return true;
  }();
  if (!restored) {
    Exec(db, "PRAGMA writable_schema=OFF");
    Exec(db, "ROLLBACK TO velmora_restore_statement");
  }
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, defensive, nullptr);
  Exec(db, "RELEASE velmora_restore_statement");
  return restored;
}

QStringList IndexesNeedingReindex(sqlite3* db, const QStringList& collations,
                                  const QStringList& functions) {
  QStringList result;
  if (db == nullptr || (collations.isEmpty() && functions.isEmpty())) return result;
  bool ok = false;
  const std::vector<QStringList> indexes =
      Rows(db, "SELECT name, tbl_name, sql FROM sqlite_schema WHERE type = 'index' ORDER BY rowid",
           QString(), 3, &ok);
  for (const QStringList& index : indexes) {
    bool depends = NamesStandIn(index[2], collations, functions);
    QSet<QString> columns;
    for (const QStringList& key :
         Rows(db, "SELECT cid, coll FROM pragma_index_xinfo(?1) WHERE key", index[0], 2, &ok)) {
      depends |= ContainsName(collations, key[1]);
      columns.insert(key[0]);
    }
    if (!depends && !functions.isEmpty()) {
      // A VIRTUAL generated column is computed when the index is built.
      const std::vector<QStringList> table = Rows(
          db, "SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?1", index[1], 1, &ok);
      if (!table.empty() && NamesStandIn(table[0][0], collations, functions)) {
        for (const QStringList& column :
             Rows(db, "SELECT cid, hidden FROM pragma_table_xinfo(?1, 'main')", index[1], 2, &ok))
          depends |= column[1] == QLatin1String("2") && columns.contains(column[0]);
      }
    }
    if (depends) result << index[0];
  }
  return result;
}

QStringList StandInReport(const QStringList& collations, const QStringList& functions,
                          const QStringList& reindex) {
  QStringList lines;
  if (!collations.isEmpty())
    lines << QStringLiteral(
                 "Collations not known here were replaced by binary order while saving: %1. "
                 "The saved schema names them as the original did.")
                 .arg(collations.join(QLatin1String(", ")));
  if (!functions.isEmpty())
    lines << QStringLiteral(
                 "Functions not known here were replaced by stand-ins that return NULL: %1. "
                 "The saved schema calls them as the original did; stored values are the "
                 "file's own.")
                 .arg(functions.join(QLatin1String(", ")));
  if (!reindex.isEmpty())
    lines << QStringLiteral(
                 "Run REINDEX on these indexes where the real collations and functions exist: "
                 "%1.")
                 .arg(reindex.join(QLatin1String(", ")));
  return lines;
}

int StepUnchecked(sqlite3* db, sqlite3_stmt* insert) {
  bool ok = false;
  const std::vector<QStringList> setting =
      Rows(db, "PRAGMA ignore_check_constraints", QString(), 1, &ok);
  const bool was = ok && !setting.empty() && setting[0][0] == QLatin1String("1");
  // Changing the setting expires every statement of db: the next step
  // compiles `insert` again, without the CHECK constraints, bindings kept.
  if (!was) Exec(db, "PRAGMA ignore_check_constraints=ON");
  const int rc = sqlite3_step(insert);
  if (!was) Exec(db, "PRAGMA ignore_check_constraints=OFF");
  return rc;
}

int StepKeepingCheckFailures(sqlite3_stmt* insert, bool* brokeCheck) {
  *brokeCheck = false;
  const int rc = sqlite3_step(insert);
  sqlite3* const db = sqlite3_db_handle(insert);
  const bool checkFailed =
      (rc & 0xff) == SQLITE_CONSTRAINT && sqlite3_extended_errcode(db) == SQLITE_CONSTRAINT_CHECK;
  // A CHECK expression that raises an error (malformed JSON, a function it
  // may not call, a string past the length limit, a run past the work
  // allowed) decides nothing about the row either. Such an error is told
  // from one of the row itself by stepping again without the constraints:
  // when the row then goes in, a CHECK caused it.
  const int primary = rc & 0xff;
  const bool checkMayHaveRaised = primary == SQLITE_ERROR || primary == SQLITE_TOOBIG ||
                                  primary == SQLITE_INTERRUPT || primary == SQLITE_AUTH ||
                                  primary == SQLITE_RANGE || primary == SQLITE_MISMATCH;
  if (!checkFailed && !checkMayHaveRaised) return rc;
  sqlite3_reset(insert);
  const int unchecked = StepUnchecked(db, insert);
  *brokeCheck = unchecked == SQLITE_DONE || checkFailed;
  return unchecked;
}

bool IsStrictTable(const QString& sql) {
  const std::vector<SqlToken> tokens = TokenizeSql(sql);
  const TableDefinitions defs = SplitTableDefinitions(sql, tokens);
  if (!defs.found) return false;
  for (std::size_t t = static_cast<std::size_t>(defs.close) + 1; t < tokens.size(); ++t)
    if (IsSqlKeyword(sql, tokens[t], "STRICT")) return true;
  return false;
}

QString StatementWithoutTypes(const QString& sql, const QStringList& columns) {
  const std::vector<SqlToken> tokens = TokenizeSql(sql);
  const TableDefinitions defs = SplitTableDefinitions(sql, tokens);
  if (!defs.found || IsStrictTable(sql)) return sql;
  static const char* const kConstraintWords[] = {"CONSTRAINT", "PRIMARY",   "NOT",     "NULL",
                                                 "UNIQUE",     "CHECK",     "DEFAULT", "COLLATE",
                                                 "REFERENCES", "GENERATED", "AS"};
  struct Cut {
    int begin, end;
  };
  std::vector<Cut> cuts;
  for (const auto& [first, last] : defs.definitions) {
    const QString name = SqlTokenName(sql, tokens[size_t(first)]);
    bool wanted = false;
    for (const QString& column : columns)
      wanted = wanted || column.compare(name, Qt::CaseInsensitive) == 0;
    if (!wanted) continue;
    // The type: the tokens after the name up to the first constraint word,
    // a parenthesized size ("DECIMAL(10, 2)") included.
    int typeFirst = -1, typeLast = -1;
    for (int k = NextSignificant(tokens, first, last); k >= 0;
         k = NextSignificant(tokens, k, last)) {
      bool constraint = false;
      for (const char* word : kConstraintWords)
        constraint |= IsSqlKeyword(sql, tokens[size_t(k)], word);
      if (constraint) break;
      if (IsSymbol(sql, tokens[size_t(k)], '(')) {
        const int close = MatchingClose(sql, tokens, k);
        if (close < 0 || close > last) break;
        k = close;
      }
      if (typeFirst < 0) typeFirst = k;
      typeLast = k;
    }
    if (typeFirst >= 0)
      cuts.push_back({tokens[size_t(typeFirst)].begin, tokens[size_t(typeLast)].End()});
  }
  QString result = sql;
  for (auto it = cuts.rbegin(); it != cuts.rend(); ++it)
    result.remove(it->begin, it->end - it->begin);
  return result;
}

}  // namespace velmora
