// Virtual tables: "CREATE VIRTUAL TABLE name USING module(args)". Such a table
// has no b-tree of its own (rootpage 0); a module that stores data keeps it in
// ordinary "shadow" tables named NAME_suffix, which the module creates itself
// when the virtual table is created.
//
// The modules that the SQLite library ships for storing data (full-text
// search fts3/fts4/fts5, R*Tree rtree/rtree_i32, geopoly) can be recreated in
// the recovered database and their shadow tables filled with the file's
// records. No other module is ever run: a statement read from the file could
// name one that reads or writes files. The schema row of a table that is not
// recreated can be written as stored (WriteVirtualTableRow).
#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

namespace velmora {

// The parts of a CREATE VIRTUAL TABLE statement.
struct VirtualTableStatement {
  bool found = false;  // false: not such a statement (or no module name)
  QString name;        // the table name as a name (quotes removed)
  QString module;      // the module name, lower case
  QStringList args;    // each module argument as written, trimmed
};

// Reads `sql` with the bounded tokenizer. Never fails; see `found`.
VirtualTableStatement ParseVirtualTable(const QString& sql);

// True for a module this program recreates (fts3, fts4, fts5, rtree,
// rtree_i32, geopoly; case-insensitive) when the library of `db` has it
// (PRAGMA module_list). False for any other module, or when db is null.
bool IsRecreatableModule(sqlite3* db, const QString& module);

// The suffixes of the shadow tables that `module` keeps (lower case; empty
// for a module without shadow tables or one not recreated).
QStringList ShadowTableSuffixes(const QString& module);

// True when `table` is named like a shadow table of `virtualName` for
// `module`: NAME_suffix, compared case-insensitively.
bool IsShadowTableOf(const QString& table, const QString& virtualName, const QString& module);

// For an fts table whose content is kept elsewhere: "content=''" (none kept)
// or "content=TABLE" (an external table). Empty when the table keeps its own
// content (then a 'rebuild' can make its index again from it).
QString ExternalContent(const VirtualTableStatement& statement);

// Runs the CREATE VIRTUAL TABLE statement `sql` on `db` confined: the library
// may create only the virtual table `expectName` with a recreatable module in
// the main database, and the module only its own shadow tables (and their
// automatic indexes) and their first rows. True when it was created; false
// with *error set (the library's message, or why it was refused).
bool CreateVirtualTableConfined(sqlite3* db, const QString& sql, const QString& expectName,
                                QString* error);

// Writes the schema row of the virtual table `name` (tbl_name `tableName`)
// into db exactly as the file holds it, without running its module: for a
// module or tokenizer that the library lacks, so that the application that
// has it finds the table and its shadow tables as they were. The values go
// in bound; in a savepoint, with defensive mode and writable_schema changed
// for the insert only. The schema is reloaded; when the library cannot read
// it back (or `sql` is not a CREATE VIRTUAL TABLE for `name`, or such an
// object exists), everything is undone, *error says why and it returns false.
// No statement of db may be running.
bool WriteVirtualTableRow(sqlite3* db, const QString& name, const QString& tableName,
                          const QString& sql, QString* error);

// Gives the shadow table `table` of db (made by its module) the statement
// `sql` that the file holds for it, its rows left as they are: an older
// library wrote other declared types. Kept only when the table still has the
// same column names and key and passes the integrity check; else everything
// is undone and *error says why. Values bound, in a savepoint, with
// writable_schema on for the change only. No statement of db may be running.
bool RestoreShadowStatement(sqlite3* db, const QString& table, const QString& sql, QString* error);

}  // namespace velmora
