// Ready-made databases for tests and the window tour. Each maker creates the
// file afresh at `path` and returns an empty text on success, else the
// reason it failed.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "tests/support/DbBuilder.h"

namespace velmora::test {

// The objects of a sample as SQLite lists them (automatic indexes and
// sqlite_sequence aside), in sqlite_schema order.
struct SampleSchema {
  QStringList tables, indexes, views, triggers;
};

// A small shop: customers (with a column added by ALTER TABLE after some
// rows, and a UNIQUE column with its automatic index), products
// (AUTOINCREMENT, so sqlite_sequence exists), orders, tags (WITHOUT ROWID),
// two indexes, a view and a trigger.
QString MakeShopDatabase(const QString& path, const DbOptions& options = {});
SampleSchema ShopSchema();

// Names that need quoting: blanks, double quotes, apostrophes, brackets,
// keywords, and a table whose name contains VIEW.
QString MakeOddNamesDatabase(const QString& path, const DbOptions& options = {});
SampleSchema OddNamesSchema();

// Table "vals" (k INTEGER, v) with one value of every kind the record format
// stores: NULL, 0 and 1, integers of every width at their limits, reals
// (negative zero, tiny, huge), empty/blank/multi-byte texts, texts with
// zero bytes, blobs.
QString MakeAllTypesDatabase(const QString& path, const DbOptions& options = {});

// Table "longs" (id INTEGER PRIMARY KEY, t TEXT, b BLOB, tail INTEGER):
// texts and blobs whose sizes straddle the local-payload limits of the page
// size, up to several pages, so that overflow chains of one and of many pages
// exist and the value after a long one starts inside the chain. Texts mix
// one-, two- and three-byte characters, so characters are split across
// overflow pages.
QString MakeLongValuesDatabase(const QString& path, const DbOptions& options = {});

// Tables "deep" (rowid table) and "deepkeys" (WITHOUT ROWID) with enough rows
// for b-trees of at least `minDepth` levels at this page size. Keeps adding
// rows until the depth is reached; fails beyond `maxRows`.
QString MakeDeepTreeDatabase(const QString& path, const DbOptions& options = {}, int minDepth = 3,
                             int maxRows = 200000);

// Deterministic text of `chars` characters that mixes ASCII with two- and
// three-byte UTF-8 characters (and, every so often, a character outside the
// basic plane).
QString MixedText(int chars, std::uint32_t seed);
// Deterministic bytes.
QByteArray PatternBytes(int size, std::uint32_t seed);

}  // namespace velmora::test
