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

// Splits the definitions at the commas outside parentheses, leniently: the
// list runs from the first "(" after TABLE (else the first "(") to its
// matching ")" or, when damage lost it, to the end of the text.
SplitText SplitLeniently(const QString& sql) {
  SplitText split;
  const std::vector<SqlToken> tokens = TokenizeSql(sql);
  const int count = int(tokens.size());
  int open = -1;
  bool afterTable = false;
  for (int i = 0; i < count && open < 0; ++i) {
    afterTable = afterTable || IsSqlKeyword(sql, tokens[size_t(i)], "TABLE");
    if (afterTable && IsSymbol(sql, tokens[size_t(i)], '(')) open = i;
  }
  for (int i = 0; i < count && open < 0; ++i)
    if (IsSymbol(sql, tokens[size_t(i)], '(')) open = i;
  if (open < 0) return split;

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
    if (!d.constraint && head.complete &&
        (head.kind == SqlTokenKind::Word || head.kind == SqlTokenKind::QuotedName ||
         head.kind == SqlTokenKind::String)) {
      const QString name = SqlTokenName(sql, head);
      if (Readable(name)) d.name = name;
    }
    split.definitions.push_back(d);
    first = last = -1;
  };
  for (int k = open + 1; k < count; ++k) {
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

SchemaRepairResult RepairTableStatement(const QString& name, const QString& damagedSql,
                                        const RecordProfile& profile,
                                        const std::function<bool(const QString&)>& accepts) {
  SchemaRepairResult result;
  const SplitText split = SplitLeniently(damagedSql);
  const StatementBuilder builder(name);
  // The records decide whether the table is WITHOUT ROWID when there are any.
  const bool withoutRowid = profile.records > 0 ? profile.indexTree : split.withoutRowid;
  QStringList options;
  if (withoutRowid) options << QStringLiteral("WITHOUT ROWID");
  if (split.strict) options << QStringLiteral("STRICT");

  // First pass: keep every definition that parses where it stands; a column
  // that does not is replaced by one built from the records.
  QStringList columns, constraints;
  QSet<QString> used;
  int intactPrefix = -1;  // columns before the first damaged one
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
    if (accepts(builder.Compose(columns + QStringList{d.text}, constraints))) {
      columns << d.text;
      used.insert(d.name.toLower());
      trailingPlaceholders = 0;
      continue;
    }
    if (intactPrefix < 0) intactPrefix = position;
    ++damaged;
    ++trailingPlaceholders;
    const QString columnName = FreeName(d.name, position, used);
    QString column = PlaceholderColumn(columnName, profile, position);
    // A rowid table's INTEGER PRIMARY KEY holds NULL in every record: when
    // the surviving text says PRIMARY and the records agree, it is the rowid.
    const ColumnEvidence e = position < int(profile.columns.size())
                                 ? profile.columns[size_t(position)]
                                 : ColumnEvidence();
    if (!withoutRowid && profile.records > 0 && e.nulls == profile.records &&
        d.text.contains(QLatin1String("PRIMARY"), Qt::CaseInsensitive))
      column = QuoteIdentifier(columnName) + QStringLiteral(" INTEGER PRIMARY KEY");
    columns << column;
  }
  if (intactPrefix < 0) intactPrefix = int(columns.size());
  // Damaged definitions past the widest record hold no value: most likely a
  // table constraint whose keyword was hit. They are left out.
  while (profile.records > 0 && trailingPlaceholders > 0 && columns.size() > profile.widest &&
         columns.size() > intactPrefix) {
    columns.removeLast();
    --trailingPlaceholders;
    --damaged;
    ++dropped;
  }

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
        return result;
      }
    }
  }

  // The text does not say how the values map to columns past the first
  // damage: the table is built from its records.
  result.fromRecords = true;
  static const QRegularExpression aliasPattern(QStringLiteral("INTEGER\\s+PRIMARY\\s+KEY"),
                                               QRegularExpression::CaseInsensitiveOption);
  const bool aliasInText = aliasPattern.match(damagedSql).hasMatch();
  const int width = std::max(profile.records > 0 ? profile.widest : int(columns.size()), 1);
  const int keep = std::min(intactPrefix, width);
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
    const int written = attempt == 0 ? keep : 0;
    QStringList built;
    QSet<QString> names;
    QStringList plainNames;
    for (int i = 0; i < width; ++i) {
      if (i < written) {
        built << columns[i];
        const QString n =
            split.definitions.size() > size_t(i) ? split.definitions[size_t(i)].name : QString();
        names.insert(n.toLower());
        plainNames << n;
      } else {
        const QString n = FreeName(QString(), i, names);
        built << PlaceholderColumn(n, profile, i);
        plainNames << n;
      }
    }
    // The rowid alias: its value is the rowid and every record holds NULL in
    // its place. Taken when the text still says INTEGER PRIMARY KEY, no
    // column kept as written has a key, and exactly one built column is NULL
    // in every record.
    if (!withoutRowid && profile.records > 0 && aliasInText && !KeyAmong(built.mid(0, written))) {
      int alias = -1;
      int candidates = 0;
      for (int i = written; i < width && i < int(profile.columns.size()); ++i) {
        if (profile.columns[size_t(i)].nulls == profile.records) {
          alias = i;
          ++candidates;
        }
      }
      if (candidates == 1)
        built[alias] = QuoteIdentifier(plainNames[alias]) + QStringLiteral(" INTEGER PRIMARY KEY");
    }
    QStringList kept;
    if (attempt == 0)
      for (const QString& c : constraints)
        if (accepts(builder.Compose(built, kept + QStringList{c}))) kept << c;
    QStringList tries{
        builder.Compose(built, kept, withoutRowid ? QStringLiteral("WITHOUT ROWID") : QString())};
    if (withoutRowid) {
      QStringList key;
      for (int i = 0; i < std::min(keyColumns, width); ++i) key << QuoteIdentifier(plainNames[i]);
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
                        .arg(written);
      return result;
    }
  }
  return result;
}

}  // namespace velmora
