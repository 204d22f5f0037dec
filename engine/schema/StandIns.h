// Stand-ins for the collations and functions that a recovered schema names
// but the SQLite library does not know, and what saving such tables needs.
//
// A database made by another application may declare `COLLATE LOCALIZED`,
// call its own function in a CHECK constraint or a generated column, or hold
// rows that break a CHECK constraint. The statements are replayed and saved
// exactly as written: the library is given a stand-in for each unknown name
// (a collation in binary order, a function that returns NULL), the tables are
// filled with the values the file holds, and the indexes whose order depends on
// a stand-in are named so that the user can rebuild them (REINDEX) where the
// real collation or function exists.
//
// Also here: a small, bounded tokenizer for the SQL text of a schema statement.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// ---------------------------------------------------------------------------
// Tokens of a schema statement

enum class SqlTokenKind {
  Space,       // white space
  Comment,     // -- to the end of the line, or /* ... */
  Word,        // a bare word: keyword or identifier (letters, digits, _, $, non-ASCII)
  QuotedName,  // "name", [name] or `name`
  String,      // 'text'
  Blob,        // x'hex'
  Number,      // 12, 1.5e3, 0x1F, .5
  Symbol,      // any other single character: ( ) , ; . + - ...
};

struct SqlToken {
  SqlTokenKind kind = SqlTokenKind::Symbol;
  int begin = 0;         // offset in the statement's text
  int length = 0;        // characters, quotes and comment marks included
  bool complete = true;  // false: a quote or comment that the text does not close
  int End() const { return begin + length; }
};

// The tokens of `sql`, in order, covering every character exactly once.
// One pass, at most one token per character; never fails: a quote or a
// comment left open runs to the end of the text and is marked incomplete.
std::vector<SqlToken> TokenizeSql(const QString& sql);

// The token as a name: a QuotedName or String without its quotes, doubled
// closing quotes made single; a Word as written. Empty for other kinds.
QString SqlTokenName(const QString& sql, const SqlToken& token);

// True for a Word equal to `keyword` (ASCII, case-insensitive).
bool IsSqlKeyword(const QString& sql, const SqlToken& token, const char* keyword);

// The parts of "CREATE [TEMP] TABLE [IF NOT EXISTS] [schema.]name (defs) [options]".
struct TableDefinitions {
  bool found = false;  // false: not such a statement, unbalanced, or a quote left open
  int open = -1;       // token index of the "(" that opens the definitions
  int close = -1;      // token index of the matching ")"
  // Each column definition or table constraint as [first, last] token
  // indexes, white space and comments around it excluded; commas excluded.
  std::vector<std::pair<int, int>> definitions;
};

// Splits a CREATE TABLE statement's definitions at the commas outside
// parentheses. `tokens` are TokenizeSql(sql). Never fails; see `found`.
TableDefinitions SplitTableDefinitions(const QString& sql, const std::vector<SqlToken>& tokens);

// ---------------------------------------------------------------------------
// Stand-in collations and functions

// From now on until db is closed, every collation that a statement on db names
// and the library lacks is supplied on demand: binary order (memcmp over the
// shorter length, then the shorter first), registered for UTF-8 and, when
// asked for a UTF-16 encoding, for that encoding too. Replaces an earlier
// sqlite3_collation_needed callback of db. Safe to call again.
void InstallStandInCollations(sqlite3* db);

// The collation names supplied on db so far, in the order asked for, each
// once (case-insensitive). Empty for a connection without stand-ins.
QStringList StandInCollations(sqlite3* db);

// The function names that PrepareWithStandIns supplied on db so far.
QStringList StandInFunctions(sqlite3* db);

// Prepares the first statement of sqlUtf8 on db as sqlite3_prepare_v2 does.
// When the library answers "no such function: NAME", registers a stand-in
// NAME on db (any number of arguments, deterministic, innocuous, returns
// NULL), appends NAME to *standInFunctions (when given) and prepares again,
// at most 32 times. Returns the result code of the last prepare: SQLITE_OK
// with *stmt owned by the caller (null for an empty text), or an error with
// *stmt null and sqlite3_errmsg(db) holding the library's message. `tail`
// (may be null) as in sqlite3_prepare_v2.
int PrepareWithStandIns(sqlite3* db, const QByteArray& sqlUtf8, sqlite3_stmt** stmt,
                        const char** tail, QStringList* standInFunctions);

// A CREATE TABLE statement for filling a table that has generated columns
// with the values its records hold. A record stores every column except the
// VIRTUAL generated ones, STORED generated columns in their declared place,
// so the plain statement declares each STORED generated column as an
// ordinary column (its name, type and other constraints kept, the
// "[CONSTRAINT name] [GENERATED ALWAYS] AS (expr) [STORED]" clause removed)
// and leaves each VIRTUAL generated column out; all else stays as written.
struct PlainTable {
  QString sql;                   // the plain statement, or the original when not changed
  bool changed = false;          // true when sql differs from the original
  QStringList storedGenerated;   // names of the STORED generated columns, in order
  QStringList virtualGenerated;  // names of the VIRTUAL generated columns, in order
  QString unsure;                // why the original was kept although it has generated columns
};

// Never throws. Unchanged (changed false, sql the original) when the
// statement has no generated column or cannot be read with certainty: not a
// CREATE TABLE with a list of definitions, a quote or parenthesis left open,
// or a VIRTUAL column named by what remains (a CHECK, a key, a stored
// column's constraint); `unsure` then says which.
PlainTable PlainTableForFilling(const QString& createTableSql);

// Gives the ordinary table `table` of db the statement originalSql in
// sqlite_schema, its records left as they are: for a table created from
// PlainTableForFilling(originalSql).sql and filled, so that the saved schema is
// the original one. In a savepoint, with defensive mode off and writable_schema
// on for the change only: updates the row, bumps the schema version, reloads
// the schema, and checks that the table's stored columns are still the same
// names in the same order and that PRAGMA integrity_check on the table passes
// (rows breaking a CHECK constraint are kept on purpose and not counted).
// Returns true when the table now has originalSql. On any failure everything is
// undone (the table keeps its statement), *error (when given) says why, and
// returns false. No statement of db may be running. `typesMayDiffer`: the
// columns' declared types may change (the names and their order may not).
bool RestoreOriginalStatement(sqlite3* db, const QString& table, const QString& originalSql,
                              QString* error, bool typesMayDiffer = false);

// "CREATE TABLE" statement `sql` with the declared types of the columns
// `columns` (case-insensitive names) removed, all else as written; a
// STRICT table's statement, or one that does not read that way, unchanged.
// Filled through it, those columns take every value as it is bound: a
// column without a type converts nothing.
QString StatementWithoutTypes(const QString& sql, const QStringList& columns);

// True when `sql` is a "CREATE TABLE" statement with the STRICT option.
bool IsStrictTable(const QString& sql);

// The indexes of db, in schema order, whose order or content depends on one of
// the stand-in `collations` or `functions`: a key column compared with a
// stand-in collation (an explicit COLLATE, or a column declared with it, which
// covers the automatic index of a UNIQUE or PRIMARY KEY column), an expression
// or WHERE clause naming a stand-in, or a VIRTUAL generated column of a table
// whose statement names one. Each should be rebuilt with REINDEX where the real
// collation or function exists. Empty when none or when db cannot be read.
QStringList IndexesNeedingReindex(sqlite3* db, const QStringList& collations,
                                  const QStringList& functions);

// Lines for the user's report: which stand-ins were supplied and which indexes
// to rebuild. Empty when all three lists are empty.
QStringList StandInReport(const QStringList& collations, const QStringList& functions,
                          const QStringList& reindex);

// Rows that break a CHECK constraint are saved as the file holds them. The
// library reads PRAGMA ignore_check_constraints when it compiles a statement,
// and changing that setting expires every compiled statement of the
// connection: a statement compiled with CHECK constraints off is compiled
// again, with them on, once the setting is restored. So one statement serves:
// it is stepped with the constraints on, and only a row that breaks one is
// stepped again with them off.

// Steps `insert` (bound, reset) once with CHECK constraints off, the
// connection's own setting restored afterwards. NOT NULL, UNIQUE, PRIMARY KEY
// and foreign keys still apply. Returns the step's result (SQLITE_DONE on
// success). Every statement of the connection is compiled again at its next
// step. No other statement of the connection may be running.
int StepUnchecked(sqlite3* db, sqlite3_stmt* insert);

// Steps `insert` (bound, reset); when the row breaks a CHECK constraint, or
// the step fails with an error that a CHECK expression can raise, resets it
// and steps it again with StepUnchecked, its bindings kept; *brokeCheck is
// set when a CHECK failed or the row goes in only without them. Returns the
// result of the last step (SQLITE_DONE when the row is in). *brokeCheck is
// false when no CHECK constraint failed or raised an error.
int StepKeepingCheckFailures(sqlite3_stmt* insert, bool* brokeCheck);

}  // namespace velmora
