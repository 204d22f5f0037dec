#include "engine/schema/SchemaCatalog.h"

#include "engine/core/Values.h"
#include "engine/schema/SchemaRows.h"
#include "engine/schema/VirtualTables.h"

namespace velmora {
namespace {

// The name as the tree would compare it: one pair of enclosing square
// brackets and every double quote set aside, surrounding white space trimmed.
QString LooseName(QString name) {
  name = StripBrackets(name.trimmed());
  name.remove(QLatin1Char('"'));
  return name.trimmed();
}

}  // namespace

bool SchemaObject::Is(SchemaKind kind) const {
  switch (kind) {
    case SchemaKind::Table:
      return kinds.table;
    case SchemaKind::Index:
      return kinds.index;
    case SchemaKind::View:
      return kinds.view;
    case SchemaKind::Trigger:
      return kinds.trigger;
  }
  return false;
}

std::vector<const SchemaObject*> SchemaCatalog::OfKind(SchemaKind kind) const {
  std::vector<const SchemaObject*> list;
  for (const SchemaObject& object : m_objects)
    if (object.Is(kind)) list.push_back(&object);
  return list;
}

void SchemaCatalog::Clear() {
  m_objects.clear();
  m_byName.clear();
  m_tablesByLooseName.clear();
  m_virtualTables.clear();
}

void SchemaCatalog::Add(SchemaObject object) {
  const std::size_t at = m_objects.size();
  m_byName[object.name].push_back(at);
  if (object.Is(SchemaKind::Table)) m_tablesByLooseName[LooseName(object.name)].push_back(at);
  if (object.Is(SchemaKind::Table) && object.virtualTable) m_virtualTables.push_back(at);
  m_objects.push_back(std::move(object));
}

std::vector<const SchemaObject*> SchemaCatalog::VirtualTables() const {
  std::vector<const SchemaObject*> list;
  for (std::size_t at : m_virtualTables) list.push_back(&m_objects[at]);
  return list;
}

const SchemaObject* SchemaCatalog::Find(SchemaKind kind, const QString& name) const {
  const auto it = m_byName.constFind(name);
  if (it == m_byName.cend()) return nullptr;
  for (std::size_t at : *it)
    if (m_objects[at].Is(kind)) return &m_objects[at];
  return nullptr;
}

const SchemaObject* SchemaCatalog::FindTable(const QString& name) const {
  if (const SchemaObject* exact = Find(SchemaKind::Table, name)) return exact;
  const auto it = m_tablesByLooseName.constFind(LooseName(name));
  return it == m_tablesByLooseName.cend() || it->empty() ? nullptr : &m_objects[it->front()];
}

bool RecognizeSchemaRow(const RecordView& view, std::uint32_t encoding, SchemaObject* out) {
  const auto& values = view.values;
  auto isText = [&](std::size_t i) {
    return i < values.size() && values[i].storage == StorageClass::Text;
  };
  // A field's exact text; a value of another class as the grid would show it.
  auto exactText = [&](std::size_t i) -> QString {
    if (i >= values.size()) return QString(QLatin1String(""));
    return isText(i) ? ExactText(view, values[i], encoding)
                     : RenderDisplay(view, values[i], encoding);
  };
  // The display text of the record's last text value.
  QString lastText;
  for (std::size_t i = values.size(); i-- > 0;) {
    if (isText(i)) {
      lastText = RenderDisplay(view, values[i], encoding);
      break;
    }
  }
  const QString type = isText(0) ? exactText(0) : QString();
  const QString sqlDisplay = isText(4) ? RenderDisplay(view, values[4], encoding) : QString();
  const SchemaRowClass c = ClassifySchemaRow(type, exactText(1), lastText, sqlDisplay);
  if (!c.table && !c.index && !c.view && !c.trigger) return false;

  SchemaObject& object = *out;
  object = SchemaObject();
  object.type = type.isNull() ? exactText(0) : type;
  object.name = exactText(1);
  object.tableName = exactText(2);
  if (values.size() > 3 && values[3].storage == StorageClass::Integer)
    object.rootPage = values[3].intValue;
  if (isText(4)) {
    // Exactly as stored, trailing blanks included; SQLite itself reads a
    // statement only up to a zero character.
    object.sql = exactText(4);
    const qsizetype zero = object.sql.indexOf(QChar(0));
    if (zero >= 0) object.sql.truncate(zero);
  } else {
    object.sql = lastText;
  }
  object.kinds = c;
  if (c.table) {
    const VirtualTableStatement statement = ParseVirtualTable(object.sql);
    object.virtualTable =
        statement.found ||
        object.sql.trimmed().startsWith(QLatin1String("CREATE VIRTUAL TABLE"), Qt::CaseInsensitive);
    object.module = statement.module;
  }
  return true;
}

}  // namespace velmora
