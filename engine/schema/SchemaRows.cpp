#include "engine/schema/SchemaRows.h"

namespace velmora {

QString StripBrackets(const QString& text) {
  // Only an enclosing pair is quoting: a bracket that opens or closes inside
  // the name ("weird [name]") is part of it.
  if (text.size() >= 2 && text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
    return text.mid(1, text.size() - 2);
  return text;
}

SchemaRowClass ClassifySchemaRow(const QString& typeField, const QString& name,
                                 const QString& lastText, const QString& sql) {
  SchemaRowClass c;
  if (typeField == QLatin1String("table")) {
    c.table = (sql.contains(QLatin1String("CREATE TABLE")) ||
               sql.contains(QLatin1String("CREATE VIRTUAL TABLE"))) &&
              name != QLatin1String("sqlite_sequence");
    return c;
  }
  if (typeField == QLatin1String("index")) {
    c.index = !sql.trimmed().isEmpty();
    return c;
  }
  if (typeField == QLatin1String("view")) {
    c.view = true;
    return c;
  }
  if (typeField == QLatin1String("trigger")) {
    c.trigger = true;
    return c;
  }
  c.trigger = lastText.contains(QLatin1String("TRIGGER"));
  c.view = lastText.contains(QLatin1String("VIEW"));
  c.index = lastText.contains(QLatin1String("INDEX"));
  if (lastText.contains(QLatin1String("sqlite_sequence"))) return c;
  c.table = lastText.contains(QLatin1String("CREATE TABLE")) ||
            lastText.contains(QLatin1String("CREATE VIRTUAL TABLE"));
  return c;
}

QString TableTreeText(const QString& name) {
  QString text = StripBrackets(name);
  text.remove(QLatin1Char('"'));
  return text;
}

}  // namespace velmora
