// Schema rows: the tree texts of object names, and how a row of the schema
// table is sorted into the tree's categories.
#pragma once

#include <QString>

namespace velmora {

// Removes one enclosing pair of square brackets ("[x]" is x); a text that
// does not both start with "[" and end with "]" is returned as it is.
QString StripBrackets(const QString& text);

// The text the object tree shows for a table name: StripBrackets, then every
// double quote removed.
QString TableTreeText(const QString& name);

// The kinds of schema rows and how a row is sorted into the engine's lists.
enum class SchemaKind { Table, Index, View, Trigger };

struct SchemaRowClass {
  bool table = false;
  bool index = false;
  bool view = false;
  bool trigger = false;
};

// Sorts one schema row. `typeField` is the exact text of the row's first
// value (empty when it is not a text); `name` the exact second value;
// `lastText` the display text of the row's last text value; `sql` the
// display text of the fifth value when it is a text (empty otherwise).
//
// A row whose type field is exactly table, index, view or trigger goes into
// that list only: a table needs "CREATE TABLE" or "CREATE VIRTUAL TABLE" in
// its SQL and is not sqlite_sequence; an index needs SQL (an automatic index
// has none). Any other row (a damaged type field) is sorted by case-sensitive
// substring tests on its last text value: "TRIGGER", "VIEW", "INDEX" each add a list;
// "sqlite_sequence" stops; "CREATE TABLE" or "CREATE VIRTUAL TABLE" adds
// the table list.
SchemaRowClass ClassifySchemaRow(const QString& typeField, const QString& name,
                                 const QString& lastText, const QString& sql);

}  // namespace velmora
