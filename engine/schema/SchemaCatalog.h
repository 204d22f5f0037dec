// The schema catalog: one list of the schema objects recovered from the
// file, with their fields exactly as stored. The tree, the working database,
// the statement pane, the tool and the save order all read it.
#pragma once

#include <QHash>
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/core/RecordView.h"
#include "engine/schema/SchemaRows.h"

namespace velmora {

// Where a schema object was found.
enum class SchemaOrigin : std::uint8_t {
  SchemaTree,     // a record of the schema b-tree under page 1
  LostAndFound,   // made by the session for rows that fit no table (no record in the file)
  FoundInFile,    // a record shaped like a schema row on a page the schema tree no longer reaches
  RecoveredTree,  // an orphan tree without a schema row, made a table by the session
};

struct SchemaObject {
  QString type;       // first field: "table", "index", "view", "trigger", or damaged
  QString name;       // object name, exactly as stored
  QString tableName;  // tbl_name, exactly as stored
  std::int64_t rootPage = 0;
  // The CREATE statement: exactly as stored (up to a zero character), or the
  // statement rebuilt for a table whose stored one the library refused.
  QString sql;
  SchemaOrigin origin = SchemaOrigin::SchemaTree;
  std::int64_t page = 0;  // the page the record was found on
  // The tree categories the object is listed under (a damaged type field can
  // put it under several).
  SchemaRowClass kinds;
  // A table whose stored statement does not parse: `sql` is the rebuilt one,
  // `originalSql` the damaged text as stored; `repairNote` says how it was
  // rebuilt (for the report).
  bool sqlRebuilt = false;
  QString originalSql;
  QString repairNote;
  // "CREATE VIRTUAL TABLE ... USING module(...)": a table without a b-tree of
  // its own (rootpage 0); `module` is the module name as written.
  bool virtualTable = false;
  QString module;

  bool Is(SchemaKind kind) const;
};

// Lookups by name go through an index kept as objects are added, so that a
// schema of many thousands of objects is searched in constant time per name
// rather than object by object.
class SchemaCatalog {
 public:
  void Clear();
  void Add(SchemaObject object);
  const std::vector<SchemaObject>& Objects() const { return m_objects; }
  // The object at `index` (< Objects().size()) for the session to amend: its
  // statement and notes, never its name or kinds, which the index holds.
  SchemaObject& At(std::size_t index) { return m_objects.at(index); }

  // The objects listed under `kind`, in the order they were found.
  std::vector<const SchemaObject*> OfKind(SchemaKind kind) const;
  // The virtual tables, in the order they were found.
  std::vector<const SchemaObject*> VirtualTables() const;
  // The first object under `kind` whose name is exactly `name`; null when none.
  const SchemaObject* Find(SchemaKind kind, const QString& name) const;
  // A table by name: exact first; failing that, the first whose name matches
  // once one pair of enclosing square brackets, every double quote and
  // surrounding white space are set aside. Null when none.
  const SchemaObject* FindTable(const QString& name) const;

 private:
  std::vector<SchemaObject> m_objects;
  // Positions in m_objects, in catalog order: of every object by its exact
  // name, and of the tables by their loose name (see FindTable).
  QHash<QString, std::vector<std::size_t>> m_byName;
  QHash<QString, std::vector<std::size_t>> m_tablesByLooseName;
  std::vector<std::size_t> m_virtualTables;
};

// Reads a record of the schema table as a schema object: five fields (type,
// name, tbl_name, rootpage, sql), sorted into the tree's categories by
// ClassifySchemaRow. False when the record is not one the catalog keeps.
bool RecognizeSchemaRow(const RecordView& view, std::uint32_t encoding, SchemaObject* out);

}  // namespace velmora
