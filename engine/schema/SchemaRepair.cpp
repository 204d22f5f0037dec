// Rebuilding a refused CREATE TABLE statement from its surviving text and the
// table's records.
#include "engine/schema/SchemaRepair.h"

#include <QRegularExpression>
#include <QSet>

#include "engine/core/SqlQuote.h"
#include "engine/schema/StandIns.h"

namespace velmora {
namespace {

bool Significant(const SqlToken& token) {
  return token.kind != SqlTokenKind::Space && token.kind != SqlTokenKind::Comment;
}

bool IsSymbol(const QString& sql, const SqlToken& token, char symbol) {
  return token.kind == SqlTokenKind::Symbol && sql.at(token.begin) == QLatin1Char(symbol);
}

bool IsAnyKeyword(const QString& sql, const SqlToken& token,
                  std::initializer_list<const char*> keywords) {
  for (const char* keyword : keywords)
    if (IsSqlKeyword(sql, token, keyword)) return true;
  return false;
}

// A name the text still shows plainly: no control character, no replacement
// character left by bytes that were not valid text.
bool Readable(const QString& text) {
  if (text.trimmed().isEmpty()) return false;
  for (const QChar c : text)
    if (c.unicode() < 0x20 || c == QChar(QChar::ReplacementCharacter) || c.unicode() == 0x7F)
      return false;
  return true;
}

// One column definition or table constraint of the damaged text.
struct Definition {
  QString text;             // as written, white space around it excluded
  bool constraint = false;  // starts with a table-constraint keyword
  QString name;             // a column's name when it can be read; else empty
};

struct SplitText {
  std::vector<Definition> definitions;
  bool withoutRowid = false;  // "WITHOUT ROWID" after the closing parenthesis
  bool strict = false;        // "STRICT" there
};

int NextSignificantToken(const std::vector<SqlToken>& tokens, int from) {
  for (int k = from + 1; k < int(tokens.size()); ++k)
    if (Significant(tokens[size_t(k)])) return k;
  return -1;
}

bool IsNameToken(const SqlToken& token) {
  return token.complete &&
         (token.kind == SqlTokenKind::Word || token.kind == SqlTokenKind::QuotedName ||
          token.kind == SqlTokenKind::String);
}

// Where the definitions may start: token indexes of their first token. When
// the "(" after the table's name is intact, that is the one place. When
// damage hit it, both the first "(" after TABLE that comes before the first
// comma (the name was hit) and the token after the name (the parenthesis was
// hit) are candidates. Failing both, the first "(" of the text.
std::vector<int> ListStarts(const QString& sql, const std::vector<SqlToken>& tokens) {
  const int count = int(tokens.size());
  int table = -1;
  for (int i = 0; i < count && table < 0; ++i)
    if (IsSqlKeyword(sql, tokens[size_t(i)], "TABLE")) table = i;
  std::vector<int> starts;
  if (table >= 0) {
    int k = NextSignificantToken(tokens, table);
    if (k >= 0 && IsSqlKeyword(sql, tokens[size_t(k)], "IF")) {
      for (int skip = 0; skip < 3 && k >= 0; ++skip) k = NextSignificantToken(tokens, k);
    }
    int afterName = -1;
    if (k >= 0 && IsNameToken(tokens[size_t(k)])) {
      afterName = NextSignificantToken(tokens, k);
      if (afterName >= 0 && IsSymbol(sql, tokens[size_t(afterName)], '.')) {
        const int second = NextSignificantToken(tokens, afterName);
        afterName = second >= 0 && IsNameToken(tokens[size_t(second)])
                        ? NextSignificantToken(tokens, second)
                        : -1;
      }
    }
    if (afterName >= 0 && IsSymbol(sql, tokens[size_t(afterName)], '(')) return {afterName + 1};
    for (int i = table + 1; i < count; ++i) {
      if (IsSymbol(sql, tokens[size_t(i)], ',')) break;
      if (IsSymbol(sql, tokens[size_t(i)], '(')) {
        starts.push_back(i + 1);
        break;
      }
    }
    if (afterName >= 0) starts.push_back(afterName);
  }
  if (starts.empty()) {
    for (int i = 0; i < count; ++i)
      if (IsSymbol(sql, tokens[size_t(i)], '(')) return {i + 1};
  }
  return starts;
}

// Splits the definitions at the commas outside parentheses, leniently, from
// token `start` to the ")" that closes the list or, when damage lost it, to
// the end of the text.
SplitText SplitFrom(const QString& sql, const std::vector<SqlToken>& tokens, int start) {
  SplitText split;
  const int count = int(tokens.size());
  int depth = 0;
  int first = -1;
  int last = -1;
  int close = -1;
  auto finish = [&] {
    if (first < 0) return;
    Definition d;
    d.text = sql.mid(tokens[size_t(first)].begin,
                     tokens[size_t(last)].End() - tokens[size_t(first)].begin);
    const SqlToken& head = tokens[size_t(first)];
    d.constraint = IsAnyKeyword(sql, head, {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"});
    if (!d.constraint && IsNameToken(head)) {
      const QString name = SqlTokenName(sql, head);
      if (Readable(name)) d.name = name;
    }
    split.definitions.push_back(d);
    first = last = -1;
  };
  for (int k = start; k < count; ++k) {
    const SqlToken& token = tokens[size_t(k)];
    if (!Significant(token)) continue;
    if (depth == 0 && IsSymbol(sql, token, ')')) {
      close = k;
      break;
    }
    if (depth == 0 && IsSymbol(sql, token, ',')) {
      finish();
      continue;
    }
    if (IsSymbol(sql, token, '(')) ++depth;
    if (IsSymbol(sql, token, ')')) --depth;
    if (first < 0) first = k;
    last = k;
  }
  finish();
  for (int k = close + 1; close >= 0 && k < count; ++k) {
    if (IsSqlKeyword(sql, tokens[size_t(k)], "ROWID")) split.withoutRowid = true;
    if (IsSqlKeyword(sql, tokens[size_t(k)], "STRICT")) split.strict = true;
  }
  return split;
}

// The part of a damaged definition that follows the damaged bytes: when the
// definition starts with characters that cannot start one, followed by white
// space and a name, the text from that name on (white space is never part
// of a name, so the name there is whole). Empty otherwise.
QString SurvivingTail(const QString& text) {
  const std::vector<SqlToken> tokens = TokenizeSql(text);
  if (tokens.empty() || tokens.front().kind != SqlTokenKind::Symbol ||
      IsSymbol(text, tokens.front(), '('))
    return QString();
  for (std::size_t k = 1; k + 1 < tokens.size(); ++k) {
    if (tokens[k].kind == SqlTokenKind::Symbol && !IsSymbol(text, tokens[k], '(')) continue;
    if (tokens[k].kind != SqlTokenKind::Space) return QString();
    const SqlToken& next = tokens[k + 1];
    if (next.kind != SqlTokenKind::Word && next.kind != SqlTokenKind::QuotedName) return QString();
    return text.mid(next.begin);
  }
  return QString();
}

class StatementBuilder {
 public:
  explicit StatementBuilder(const QString& name)
      : m_prefix(QStringLiteral("CREATE TABLE ") + QuoteIdentifier(name)) {}
  QString Compose(const QStringList& columns, const QStringList& constraints,
                  const QString& options = QString()) const {
    QStringList all = columns;
    all << constraints;
    QString sql = m_prefix + QLatin1Char('(') + all.join(QStringLiteral(", ")) + QLatin1Char(')');
    if (!options.isEmpty()) sql += QLatin1Char(' ') + options;
    return sql;
  }

 private:
  QString m_prefix;
};

// A column built from the records at `position`.
QString PlaceholderColumn(const QString& name, const RecordProfile& profile, int position) {
  const QString type = TypeFromProfile(profile, position);
  return type.isEmpty() ? QuoteIdentifier(name) : QuoteIdentifier(name) + QLatin1Char(' ') + type;
}

// A name for the column at `position` not yet in `used` (lower case):
// `preferred` when it is free, else cN, cN_2, ...
QString FreeName(const QString& preferred, int position, QSet<QString>& used) {
  QString name = preferred;
  if (name.isEmpty() || used.contains(name.toLower())) {
    name = QStringLiteral("c%1").arg(position + 1);
    for (int n = 2; used.contains(name.toLower()); ++n)
      name = QStringLiteral("c%1_%2").arg(position + 1).arg(n);
  }
  used.insert(name.toLower());
  return name;
}

bool KeyAmong(const QStringList& columns) {
  for (const QString& c : columns)
    if (c.contains(QLatin1String("PRIMARY"), Qt::CaseInsensitive)) return true;
  return false;
}

}  // namespace

void AddToProfile(const RecordView& record, RecordProfile& profile) {
  ++profile.records;
  const int width = std::min(record.Size(), kMaxRebuiltColumns);
  if (width > profile.widest) {
    profile.widest = width;
    profile.columns.resize(size_t(width));
  }
  for (int i = 0; i < width; ++i) {
    ColumnEvidence& e = profile.columns[size_t(i)];
    switch (record.values[size_t(i)].storage) {
      case StorageClass::Null:
        ++e.nulls;
        break;
      case StorageClass::Integer:
        ++e.integers;
        break;
      case StorageClass::Real:
        ++e.reals;
        break;
      case StorageClass::Text:
        ++e.texts;
        break;
      case StorageClass::Blob:
        ++e.blobs;
        break;
    }
  }
}

QString TypeFromEvidence(const ColumnEvidence& e) {
  // A declared type must not change a stored value: INTEGER affinity turns
  // integral reals and numeric texts into integers, REAL affinity turns
  // integers and numeric texts into reals, TEXT affinity turns numbers into
  // texts. Blobs and NULLs pass every affinity unchanged; a column without a
  // declared type converts nothing.
  if (e.integers + e.reals + e.texts + e.blobs == 0) return QString();
  if (e.integers > 0 && e.reals == 0 && e.texts == 0) return QStringLiteral("INTEGER");
  if (e.reals > 0 && e.integers == 0 && e.texts == 0) return QStringLiteral("REAL");
  if (e.texts > 0 && e.integers == 0 && e.reals == 0) return QStringLiteral("TEXT");
  if (e.blobs > 0 && e.integers == 0 && e.reals == 0 && e.texts == 0) return QStringLiteral("BLOB");
  return QString();
}

QString TypeFromProfile(const RecordProfile& profile, int position) {
  if (profile.cut || position < 0 || position >= int(profile.columns.size())) return QString();
  return TypeFromEvidence(profile.columns[size_t(position)]);
}

namespace {

// One column slot of the damaged text as the first reading placed it.
struct Slot {
  QString column;        // the definition used (as written, or built from the records)
  QString name;          // its name; empty when none could be read
  bool written = false;  // the text's own definition (or the part the damage spared)
  bool madeUp = false;   // named cN: neither the text nor the hints name it
};

QString HintName(const ColumnHints& hints, int position) {
  return position >= 0 && position < int(hints.names.size()) ? hints.names[size_t(position)]
                                                             : QString();
}

}  // namespace

SchemaRepairResult RepairTableStatement(const QString& name, const QString& damagedSql,
                                        const RecordProfile& profile,
                                        const std::function<bool(const QString&)>& accepts,
                                        const ColumnHints& hints) {
  SchemaRepairResult result;
  const StatementBuilder builder(name);
  // Where damage hit the list's opening, the reading under which more
  // definitions parse on their own is taken.
  const std::vector<SqlToken> tokens = TokenizeSql(damagedSql);
  SplitText split;
  int bestParsed = -1;
  for (const int start : ListStarts(damagedSql, tokens)) {
    SplitText candidate = SplitFrom(damagedSql, tokens, start);
    int parsed = 0;
    for (const Definition& d : candidate.definitions)
      if (!d.constraint && accepts(builder.Compose({d.text}, {}))) ++parsed;
    if (parsed > bestParsed) {
      bestParsed = parsed;
      split = std::move(candidate);
    }
  }
  // The records decide whether the table is WITHOUT ROWID when there are any.
  const bool withoutRowid = profile.records > 0 ? profile.indexTree : split.withoutRowid;
  QStringList options;
  if (withoutRowid) options << QStringLiteral("WITHOUT ROWID");
  if (split.strict) options << QStringLiteral("STRICT");
  auto allNull = [&profile](int position) {
    return profile.records > 0 && position < int(profile.columns.size()) &&
           profile.columns[size_t(position)].nulls == profile.records;
  };
  auto aliasColumn = [](const QString& columnName) {
    return QuoteIdentifier(columnName) + QStringLiteral(" INTEGER PRIMARY KEY");
  };

  // First pass: keep every definition that parses where it stands (or the
  // part after its damaged bytes); a column that does not is replaced by one
  // built from the records.
  std::vector<Slot> placed;
  QStringList columns, constraints;
  QSet<QString> used;
  for (const QString& hint : hints.names)
    if (!hint.isEmpty()) used.insert(hint.toLower());
  int damaged = 0;
  int dropped = 0;
  int trailingPlaceholders = 0;
  for (const Definition& d : split.definitions) {
    if (d.constraint || !constraints.isEmpty()) {
      // Columns never follow a table constraint: what comes after one is one.
      if (accepts(builder.Compose(columns, constraints + QStringList{d.text})))
        constraints << d.text;
      else
        ++dropped;
      continue;
    }
    const int position = int(columns.size());
    if (position >= kMaxRebuiltColumns) break;
    QString text = d.text;
    QString textName = d.name;
    bool fits = accepts(builder.Compose(columns + QStringList{text}, constraints));
    if (!fits) {
      const QString tail = SurvivingTail(d.text);
      if (!tail.isEmpty() && accepts(builder.Compose(columns + QStringList{tail}, constraints))) {
        text = tail;
        textName = SqlTokenName(tail, TokenizeSql(tail).front());
        fits = Readable(textName);
      }
    }
    if (fits) {
      columns << text;
      used.insert(textName.toLower());
      placed.push_back({text, textName, true, false});
      trailingPlaceholders = 0;
      continue;
    }
    ++damaged;
    ++trailingPlaceholders;
    const QString hint = HintName(hints, position);
    const QString columnName = !hint.isEmpty() ? hint : FreeName(d.name, position, used);
    QString column = PlaceholderColumn(columnName, profile, position);
    // A rowid table's INTEGER PRIMARY KEY holds NULL in every record: when
    // the surviving text says PRIMARY and the records agree, it is the rowid.
    if (!withoutRowid && allNull(position) &&
        (hints.rowidAlias == position ||
         d.text.contains(QLatin1String("PRIMARY"), Qt::CaseInsensitive)))
      column = aliasColumn(columnName);
    columns << column;
    placed.push_back({column, columnName, false,
                      hint.isEmpty() && columnName.compare(d.name, Qt::CaseInsensitive) != 0});
  }
  // Damaged definitions past the widest record hold no value: most likely a
  // table constraint whose keyword was hit. They are left out.
  while (profile.records > 0 && trailingPlaceholders > 0 && columns.size() > profile.widest &&
         !placed.back().written) {
    columns.removeLast();
    placed.pop_back();
    --trailingPlaceholders;
    --damaged;
    ++dropped;
  }
  auto finishNames = [&result](const std::vector<Slot>& made) {
    result.names.clear();
    result.madeUp.clear();
    for (const Slot& slot : made) {
      result.names << slot.name;
      result.madeUp.push_back(slot.madeUp);
    }
  };

  const bool shapeFits =
      !columns.isEmpty() && (profile.records == 0 || int(columns.size()) >= profile.widest);
  if (shapeFits) {
    for (const QString& option : {options.join(QLatin1Char(' ')),
                                  withoutRowid ? QStringLiteral("WITHOUT ROWID") : QString()}) {
      const QString sql = builder.Compose(columns, constraints, option);
      if (accepts(sql)) {
        result.ok = true;
        result.sql = sql;
        result.note = QStringLiteral("%1 of %2 definitions kept as written")
                          .arg(split.definitions.size() - damaged - dropped)
                          .arg(split.definitions.size());
        if (damaged > 0)
          result.note +=
              QStringLiteral(", %1 damaged column(s) typed from the records").arg(damaged);
        if (dropped > 0)
          result.note += QStringLiteral(", %1 damaged definition(s) left out").arg(dropped);
        finishNames(placed);
        return result;
      }
    }
  }

  // The text does not say how every value maps to a column: the table is
  // built from its records. The definitions before the first damaged one
  // stand at their own positions, and so do those after the last damaged
  // one, counted from the last value of the widest record (damage that
  // merged two definitions does not shift the ones after it).
  result.fromRecords = true;
  static const QRegularExpression aliasPattern(QStringLiteral("INTEGER\\s+PRIMARY\\s+KEY"),
                                               QRegularExpression::CaseInsensitiveOption);
  const bool aliasInText = aliasPattern.match(damagedSql).hasMatch();
  const int width = std::max(profile.records > 0 ? profile.widest : int(columns.size()), 1);
  int prefix = 0;
  while (prefix < int(placed.size()) && placed[size_t(prefix)].written) ++prefix;
  int suffix = 0;
  while (suffix < int(placed.size()) - prefix && placed[placed.size() - 1 - size_t(suffix)].written)
    ++suffix;
  prefix = std::min(prefix, width);
  if (prefix + suffix >= width) suffix = 0;
  // The leading columns that are never NULL make the key of a WITHOUT ROWID
  // table: the original key is among them (a key column is never NULL and
  // comes first in the record), so the rows stay distinct.
  int keyColumns = 0;
  while (keyColumns < int(profile.columns.size()) && profile.columns[size_t(keyColumns)].nulls == 0)
    ++keyColumns;
  keyColumns = std::max(keyColumns, 1);

  for (int attempt = 0; attempt < 2; ++attempt) {
    // First with the intact columns as written and the constraints that
    // still parse; then with every column built from the records.
    const int head = attempt == 0 ? prefix : 0;
    const int tail = attempt == 0 ? suffix : 0;
    std::vector<Slot> made(static_cast<std::size_t>(width));
    QSet<QString> names;
    for (const QString& hint : hints.names)
      if (!hint.isEmpty()) names.insert(hint.toLower());
    for (int i = 0; i < head; ++i) made[size_t(i)] = placed[size_t(i)];
    for (int i = 0; i < tail; ++i)
      made[size_t(width - tail + i)] = placed[placed.size() - size_t(tail) + size_t(i)];
    for (const Slot& slot : made)
      if (slot.written) names.insert(slot.name.toLower());
    bool keyWritten = false;
    for (const Slot& slot : made)
      keyWritten = keyWritten || (slot.written && KeyAmong({slot.column}));
    // The rowid alias: its value is the rowid and every record holds NULL in
    // its place. Taken from an index's entries, or when the text still says
    // INTEGER PRIMARY KEY, no column kept as written has a key, and exactly
    // one built column is NULL in every record.
    int alias = -1;
    if (!withoutRowid && !keyWritten) {
      if (hints.rowidAlias >= 0 && hints.rowidAlias < width && allNull(hints.rowidAlias) &&
          !made[size_t(hints.rowidAlias)].written) {
        alias = hints.rowidAlias;
      } else if (aliasInText) {
        int candidates = 0;
        for (int i = 0; i < width; ++i) {
          if (!made[size_t(i)].written && allNull(i)) {
            alias = i;
            ++candidates;
          }
        }
        if (candidates != 1) alias = -1;
      }
    }
    QStringList built;
    for (int i = 0; i < width; ++i) {
      Slot& slot = made[size_t(i)];
      if (!slot.written) {
        const QString hint = HintName(hints, i);
        slot.name = !hint.isEmpty() ? hint : FreeName(QString(), i, names);
        slot.madeUp = hint.isEmpty();
        slot.column =
            i == alias ? aliasColumn(slot.name) : PlaceholderColumn(slot.name, profile, i);
      }
      built << slot.column;
    }
    QStringList kept;
    if (attempt == 0)
      for (const QString& c : constraints)
        if (accepts(builder.Compose(built, kept + QStringList{c}))) kept << c;
    QStringList tries{
        builder.Compose(built, kept, withoutRowid ? QStringLiteral("WITHOUT ROWID") : QString())};
    if (withoutRowid) {
      QStringList key;
      for (int i = 0; i < std::min(keyColumns, width); ++i)
        key << QuoteIdentifier(made[size_t(i)].name);
      tries << builder.Compose(
          built, QStringList{QStringLiteral("PRIMARY KEY(%1)").arg(key.join(QStringLiteral(", ")))},
          QStringLiteral("WITHOUT ROWID"));
    }
    for (const QString& sql : tries) {
      if (!accepts(sql)) continue;
      result.ok = true;
      result.sql = sql;
      result.note = QStringLiteral(
                        "rebuilt from its records: %1 column(s), %2 named from the "
                        "surviving text")
                        .arg(width)
                        .arg(head + tail);
      finishNames(made);
      return result;
    }
  }
  return result;
}

}  // namespace velmora
