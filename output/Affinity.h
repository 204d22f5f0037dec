// Declared-type affinity: how a missing trailing column's value is bound.
#pragma once

#include <QString>

namespace velmora {

// Affinity codes; the same numbers serve the record output as bind kinds.
enum Affinity : int {
  AFFINITY_INTEGER = 1,
  AFFINITY_TEXT = 2,  // also the answer when nothing matches
  AFFINITY_BLOB = 3,
  AFFINITY_REAL = 4,
  AFFINITY_NUMERIC = 5,
};

// Classifies a declared column type (already cut before its first "(") by
// case-insensitive substring tests, first match wins: "INT" -> integer;
// "CHAR", "TEXT", "CLOB" -> text; "BLOB" -> blob; "REAL", "DOUBLE", "FLOAT"
// -> real; "NUMERIC", "DECIMAL", "BOOLEAN", "DATE" -> numeric; anything else,
// the empty text included, -> text. Pure; never fails.
int GetTypeAffinity(QString declaredType);

}  // namespace velmora
