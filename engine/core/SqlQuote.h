// The one helper that builds identifiers into SQL text.
//
// Every table and column name that reaches an SQL statement goes through
// QuoteIdentifier; every value is bound as a parameter, never pasted.
#pragma once

#include <QString>

namespace velmora {

// `name` in double quotes, each embedded double quote doubled:
// a"b  ->  "a""b"
inline QString QuoteIdentifier(const QString& name) {
  QString quoted = name;
  quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace velmora
