// Reading the key columns out of the statement of an index, for the passes
// that look for a table's rows in its surviving indexes.
#pragma once

#include <QString>
#include <QStringList>

namespace velmora {

// The names of the key columns of "CREATE [UNIQUE] INDEX i ON t(a, b COLLATE x
// DESC, ...)", an empty name for a key that is an expression; `table` gets
// the table name written after ON. False for a partial index (WHERE) or a
// statement that does not read that way.
bool IndexKeyNames(const QString& sql, QString* table, QStringList* names);

}  // namespace velmora
