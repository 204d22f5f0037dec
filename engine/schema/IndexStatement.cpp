#include "engine/schema/IndexStatement.h"

#include <vector>

#include "engine/schema/StandIns.h"

namespace velmora {

bool IndexKeyNames(const QString& sql, QString* table, QStringList* names) {
  std::vector<SqlToken> tokens;
  for (const SqlToken& t : TokenizeSql(sql))
    if (t.kind != SqlTokenKind::Space && t.kind != SqlTokenKind::Comment) tokens.push_back(t);
  auto symbol = [&](std::size_t i, char c) {
    return i < tokens.size() && tokens[i].kind == SqlTokenKind::Symbol &&
           sql.at(tokens[i].begin) == QLatin1Char(c);
  };
  auto isName = [&](std::size_t i) {
    return i < tokens.size() &&
           (tokens[i].kind == SqlTokenKind::Word || tokens[i].kind == SqlTokenKind::QuotedName ||
            tokens[i].kind == SqlTokenKind::String);
  };
  std::size_t i = 0;
  while (i < tokens.size() && !IsSqlKeyword(sql, tokens[i], "ON")) ++i;
  if (!isName(++i)) return false;
  if (symbol(i + 1, '.')) i += 2;
  if (!isName(i)) return false;
  *table = SqlTokenName(sql, tokens[i]);
  if (!symbol(++i, '(')) return false;
  names->clear();
  // Each key up to its comma: a name with COLLATE / ASC / DESC is a column,
  // anything else an expression.
  int depth = 0;
  std::size_t keyStart = i + 1;
  for (++i; i < tokens.size(); ++i) {
    if (symbol(i, '(')) {
      ++depth;
      continue;
    }
    const bool close = symbol(i, ')');
    if (close && depth > 0) {
      --depth;
      continue;
    }
    if (depth > 0 || (!close && !symbol(i, ','))) continue;
    const std::size_t length = i - keyStart;
    bool column = length >= 1 && isName(keyStart);
    std::size_t j = keyStart + 1;
    if (column && j + 1 < i && IsSqlKeyword(sql, tokens[j], "COLLATE")) j += 2;
    if (column && j < i &&
        (IsSqlKeyword(sql, tokens[j], "ASC") || IsSqlKeyword(sql, tokens[j], "DESC")))
      ++j;
    column = column && j == i;
    names->push_back(column ? SqlTokenName(sql, tokens[keyStart]) : QString());
    keyStart = i + 1;
    if (close) {
      for (std::size_t w = i + 1; w < tokens.size(); ++w)
        if (IsSqlKeyword(sql, tokens[w], "WHERE")) return false;
      return !names->isEmpty();
    }
  }
  return false;
}

}  // namespace velmora
