#include "engine/SchemaRows.h"

namespace velmora {

QString StripBrackets(const QString& text) {
  QString s = text;
  if (s.startsWith(QLatin1Char('['))) s.remove(0, 1);
  if (s.endsWith(QLatin1Char(']'))) s.chop(1);
  return s;
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
