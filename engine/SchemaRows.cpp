#include "engine/SchemaRows.h"

namespace velmora {

QString GetField(const QString& text, int n) {
  QString s = text;
  int i = 1;
  qsizetype p = s.indexOf(QLatin1Char(','));
  while (p >= 0) {
    if (i == 5 && n == 5) return s;
    if (i == n) return s.left(p);
    s = s.mid(p + 1);
    p = s.indexOf(QLatin1Char(','));
    ++i;
  }
  return i == n ? s : QString(QLatin1String(""));
}

QString GetFieldAt(const QString& text, int index) {
  if (index < 0) return QString(QLatin1String(""));
  QString s = text;
  QString candidate;
  for (int i = 0;; ++i) {
    const qsizetype p = s.indexOf(QLatin1Char(','));
    if (p >= 0) {
      candidate = s.left(p);
      s = s.mid(p + 1);
    } else {
      candidate = QString(QLatin1String(""));
    }
    if (i == index) return candidate;
    if (p < 0) return candidate;  // nothing more to split: every later field is empty
  }
}

QString GetFieldsFrom(const QString& text, int n) {
  QString s = text;
  for (int i = 0; i < n; ++i) {
    const qsizetype p = s.indexOf(QLatin1Char(','));
    if (p < 0) break;  // fewer than n commas: the last field
    s = s.mid(p + 1);
  }
  return s;
}

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
