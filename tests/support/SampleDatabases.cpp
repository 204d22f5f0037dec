#include "tests/support/SampleDatabases.h"

#include <cmath>
#include <limits>

#include "tests/support/Damager.h"
#include "tests/support/PageProbe.h"

namespace velmora::test {

QString MixedText(int chars, std::uint32_t seed) {
  static const char16_t kPieces[] = {
      u'a',      u'b',      u'c',      u' ',      u'x',      u'Z',      u'0',      u'9',
      u'\u00e9', u'\u00fc', u'\u00df', u'\u0416', u'\u20ac', u'\u4e2d', u'\u3042', u'\u00f1'};
  SeededRandom random(seed);
  QString text;
  text.reserve(chars);
  while (text.size() < chars) {
    const std::uint32_t r = random.Next();
    if (r % 97 == 0 && text.size() + 2 <= chars) {
      text += QString::fromUcs4(U"\U0001F600");  // four bytes in UTF-8, a pair in UTF-16
      continue;
    }
    text += QChar(kPieces[(r >> 8) % (sizeof(kPieces) / sizeof(kPieces[0]))]);
  }
  // No blank at either end: the display trims them, the data keeps them.
  text[0] = QLatin1Char('<');
  text[text.size() - 1] = QLatin1Char('>');
  return text;
}

QByteArray PatternBytes(int size, std::uint32_t seed) {
  SeededRandom random(seed);
  QByteArray bytes(size, 0);
  for (char& c : bytes) c = char(random.Next() >> 24);
  return bytes;
}

QString MakeShopDatabase(const QString& path, const DbOptions& options) {
  DbBuilder db(path, options);
  db.Exec(QStringLiteral(
      "CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT NOT NULL, email TEXT UNIQUE,"
      " balance REAL DEFAULT 0.0, photo BLOB);"
      "CREATE TABLE products (id INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT NOT NULL,"
      " price REAL, stock INTEGER DEFAULT 0, description TEXT);"
      "CREATE TABLE orders (id INTEGER PRIMARY KEY, customer_id INTEGER REFERENCES customers(id),"
      " product_id INTEGER REFERENCES products(id), quantity INTEGER NOT NULL, ordered_at TEXT, "
      "note TEXT);"
      "CREATE TABLE tags (tag TEXT PRIMARY KEY, weight INTEGER) WITHOUT ROWID;"
      "CREATE INDEX idx_orders_customer ON orders(customer_id);"
      "CREATE UNIQUE INDEX idx_products_title ON products(title);"
      "CREATE VIEW order_totals AS SELECT c.name AS name, SUM(o.quantity * p.price) AS total"
      " FROM orders o JOIN customers c ON c.id = o.customer_id JOIN products p ON p.id = "
      "o.product_id"
      " GROUP BY c.name;"
      "CREATE TRIGGER orders_stock AFTER INSERT ON orders BEGIN"
      " UPDATE products SET stock = stock - NEW.quantity WHERE id = NEW.product_id; END;"));
  db.Begin();
  const QStringList names = {
      QStringLiteral("Ada Lovelace"),      QStringLiteral("Bj\u00f6rn \u00c5str\u00f6m"),
      QStringLiteral("Chlo\u00e9 O'Neil"), QStringLiteral("\u674e\u96f7"),
      QStringLiteral("  padded  "),        QStringLiteral("Zo\u00eb \"Z\" Quinn")};
  for (int i = 0; i < names.size(); ++i)
    db.Insert(QStringLiteral("customers"),
              {i + 1, names[i], QStringLiteral("c%1@example.org").arg(i + 1), 10.25 * i - 3,
               i % 2 ? QVariant(PatternBytes(40 + i, 100 + i)) : QVariant()});
  db.Commit();
  // Rows inserted before this have no vip field in their record.
  db.Exec(QStringLiteral("ALTER TABLE customers ADD COLUMN vip INTEGER DEFAULT 0"));
  db.Exec(QStringLiteral("ALTER TABLE customers ADD COLUMN since TEXT DEFAULT 'never'"));
  db.Begin();
  db.Insert(QStringLiteral("customers"), {7, QStringLiteral("Late Comer"), QVariant(), 0.5,
                                          QVariant(), 1, QStringLiteral("2024-02-29")});
  const QStringList titles = {QStringLiteral("Tea, green"), QStringLiteral("Caf\u00e9 cr\u00e8me"),
                              QStringLiteral("Scone"), QStringLiteral("Jam \"Royal\""),
                              QStringLiteral("Biscuit's tin")};
  for (int i = 0; i < titles.size(); ++i)
    db.Run(
        QStringLiteral("INSERT INTO products (title, price, stock, description) VALUES (?,?,?,?)"),
        {titles[i], 1.1 + i * 2.5, 100 + i,
         i == 2 ? QVariant(MixedText(3000, 7)) : QVariant(QString())});
  for (int i = 0; i < 40; ++i)
    db.Insert(QStringLiteral("orders"),
              {i + 1, 1 + i % 7, 1 + i % 5, 1 + i % 3,
               QStringLiteral("2024-01-%1").arg(1 + i % 28, 2, 10, QLatin1Char('0')),
               i % 4 ? QVariant() : QVariant(QStringLiteral("gift, wrap it"))});
  for (const QString& tag : {QStringLiteral("fresh"), QStringLiteral("bio"), QStringLiteral("sale"),
                             QStringLiteral("\u65b0")})
    db.Insert(QStringLiteral("tags"), {tag, tag.size()});
  db.Commit();
  db.Close();
  return db.LastError();
}

SampleSchema ShopSchema() {
  return {{QStringLiteral("customers"), QStringLiteral("products"), QStringLiteral("orders"),
           QStringLiteral("tags")},
          {QStringLiteral("idx_orders_customer"), QStringLiteral("idx_products_title")},
          {QStringLiteral("order_totals")},
          {QStringLiteral("orders_stock")}};
}

QString MakeOddNamesDatabase(const QString& path, const DbOptions& options) {
  DbBuilder db(path, options);
  db.Exec(QStringLiteral(
      "CREATE TABLE \"my table\" (\"first name\" TEXT, [last name] TEXT, \"quo\"\"ted\" INTEGER,"
      " 'it''s' TEXT, \"select\" INTEGER, [order] TEXT);"
      "CREATE TABLE [brackets] (a, b);"
      "CREATE TABLE REVIEWS (id INTEGER PRIMARY KEY, body TEXT);"
      "CREATE TABLE \"group\" (\"index\" INTEGER, \"create table\" TEXT);"
      "CREATE TABLE \"tab\"\"le\" (x);"
      "CREATE VIEW \"view with \"\"quotes\"\"\" AS SELECT * FROM \"my table\";"
      "CREATE INDEX \"idx 'odd'\" ON \"my table\"(\"first name\");"
      "CREATE TRIGGER \"trg [x]\" AFTER DELETE ON \"group\" BEGIN DELETE FROM REVIEWS; END;"));
  db.Begin();
  db.Insert(QStringLiteral("my table"), {QStringLiteral("O'Brien"), QStringLiteral("Smith, Jr."), 1,
                                         QStringLiteral("\"x\""), 2, QStringLiteral("[1]")});
  db.Insert(QStringLiteral("my table"),
            {QStringLiteral(""), QVariant(), -1, QStringLiteral("a,b,c"), 0,
             QStringLiteral("DROP TABLE x; --")});
  db.Insert(QStringLiteral("brackets"), {1, QStringLiteral("]")});
  db.Insert(QStringLiteral("REVIEWS"), {1, QStringLiteral("CREATE VIEW not_a_view AS SELECT 1")});
  db.Insert(QStringLiteral("group"), {3, QStringLiteral("INDEX")});
  db.Insert(QStringLiteral("tab\"le"), {QStringLiteral("q")});
  db.Commit();
  db.Close();
  return db.LastError();
}

SampleSchema OddNamesSchema() {
  return {{QStringLiteral("my table"), QStringLiteral("brackets"), QStringLiteral("REVIEWS"),
           QStringLiteral("group"), QStringLiteral("tab\"le")},
          {QStringLiteral("idx 'odd'")},
          {QStringLiteral("view with \"quotes\"")},
          {QStringLiteral("trg [x]")}};
}

QString MakeAllTypesDatabase(const QString& path, const DbOptions& options) {
  DbBuilder db(path, options);
  db.Exec(QStringLiteral("CREATE TABLE vals (k INTEGER, v)"));
  db.Begin();
  const std::int64_t ints[] = {0,
                               1,
                               -1,
                               2,
                               127,
                               -128,
                               128,
                               32767,
                               -32768,
                               32768,
                               8388607,
                               -8388608,
                               8388608,
                               2147483647,
                               -2147483648LL,
                               2147483648LL,
                               140737488355327LL,
                               -140737488355328LL,
                               140737488355328LL,
                               std::numeric_limits<std::int64_t>::max(),
                               std::numeric_limits<std::int64_t>::min()};
  int k = 0;
  db.Insert(QStringLiteral("vals"), {++k, QVariant()});
  for (std::int64_t v : ints)
    db.Insert(QStringLiteral("vals"), {++k, QVariant::fromValue<qlonglong>(v)});
  const double reals[] = {1.5,
                          -0.0,
                          0.1,
                          -2.75,
                          1e20,
                          1e-300,
                          4.9e-324,
                          1.7976931348623157e308,
                          3.141592653589793,
                          123456789.125,
                          -1e15};
  for (double v : reals) db.Insert(QStringLiteral("vals"), {++k, v});
  const QStringList texts = {QString(),
                             QStringLiteral(" "),
                             QStringLiteral("abc"),
                             QStringLiteral("  abc  "),
                             QStringLiteral("\u00e9"),
                             QStringLiteral("na\u00efve caf\u00e9"),
                             QStringLiteral("\u00e9t\u00e9"),
                             QStringLiteral("\u4e2d\u6587"),
                             QString::fromUcs4(U"\U0001F600 smile"),
                             QStringLiteral("line\nbreak\ttab"),
                             QStringLiteral("comma, \"quote\" 'apos'"),
                             QStringLiteral("NULL"),
                             QStringLiteral("Blob")};
  for (const QString& t : texts)
    db.Insert(QStringLiteral("vals"), {++k, t.isNull() ? QString("") : t});
  // Zero bytes inside a text and at its start: the value keeps all of them.
  db.Insert(QStringLiteral("vals"), {++k, QVariant::fromValue(RawText{QByteArray("a\0b", 3)})});
  db.Insert(QStringLiteral("vals"), {++k, QVariant::fromValue(RawText{QByteArray("\0abc", 4)})});
  db.Insert(QStringLiteral("vals"), {++k, QVariant::fromValue(RawText{QByteArray("abc\0\0", 5)})});
  const QList<QByteArray> blobs = {QByteArray(), QByteArray(1, '\0'), QByteArray("\x00\xff", 2),
                                   QByteArray("text-like"), PatternBytes(100, 3)};
  for (const QByteArray& b : blobs) db.Insert(QStringLiteral("vals"), {++k, b});
  db.Commit();
  db.Close();
  return db.LastError();
}

QString MakeLongValuesDatabase(const QString& path, const DbOptions& options) {
  DbBuilder db(path, options);
  db.Exec(
      QStringLiteral("CREATE TABLE longs (id INTEGER PRIMARY KEY, t TEXT, b BLOB, tail INTEGER)"));
  const int usable = options.pageSize - options.reservedBytes;
  // Record sizes around the largest local payload (usable - 35) and around
  // one, two and several overflow pages.
  const int x = usable - 35;
  const QList<int> sizes = {10,         x - 20,          x - 5,     x,
                            x + 1,      x + 10,          usable,    usable + 7,
                            2 * usable, 3 * usable + 11, 7 * usable};
  db.Begin();
  int id = 0;
  for (int size : sizes) {
    if (size <= 0) continue;
    ++id;
    // A text of about `size` bytes in UTF-8 (fewer characters than bytes).
    const QString text = MixedText(std::max(2, size / 2), 1000 + id);
    db.Insert(QStringLiteral("longs"), {id, text, QVariant(), id * 1000 + 1});
    ++id;
    db.Insert(QStringLiteral("longs"),
              {id, QVariant(), PatternBytes(size, 2000 + id), id * 1000 + 2});
    ++id;
    // Both long in one record: the second starts inside the first one's chain.
    db.Insert(QStringLiteral("longs"), {id, MixedText(std::max(2, size / 3), 3000 + id),
                                        PatternBytes(size, 4000 + id), -id});
  }
  db.Commit();
  db.Close();
  return db.LastError();
}

QString MakeDeepTreeDatabase(const QString& path, const DbOptions& options, int minDepth,
                             int maxRows) {
  // Large rowids make interior cells wide, so fewer rows give more levels.
  const std::int64_t base = std::int64_t(1) << 40;
  const std::int64_t usable = options.pageSize - options.reservedBytes;
  // Leaf cells of about 60 bytes, interior cells of about 15.
  int rows = int(
      std::min<std::int64_t>(maxRows, std::max<std::int64_t>(50, (usable / 15) * (usable / 62))));
  for (;;) {
    DbBuilder db(path, options);
    db.Exec(QStringLiteral("CREATE TABLE deep (v TEXT, n INTEGER)"));
    db.Exec(QStringLiteral("CREATE TABLE deepkeys (k TEXT PRIMARY KEY, n INTEGER) WITHOUT ROWID"));
    db.Begin();
    for (int i = 0; i < rows && db.Ok(); ++i) {
      db.Run(QStringLiteral("INSERT INTO deep (rowid, v, n) VALUES (?,?,?)"),
             {QVariant::fromValue<qlonglong>(base + std::int64_t(i) * 7919), MixedText(30, i), i});
      db.Insert(
          QStringLiteral("deepkeys"),
          {QStringLiteral("key-%1-%2").arg(i * 7 % rows, 8, 10, QLatin1Char('0')).arg(i), -i});
    }
    db.Commit();
    if (!db.Close()) return db.LastError();
    PageProbe in(path);
    const int deep = in.Tree(PageProbe::RootPage(path, QStringLiteral("deep"))).depth;
    const int keys = in.Tree(PageProbe::RootPage(path, QStringLiteral("deepkeys"))).depth;
    if (deep >= minDepth && keys >= minDepth) return {};
    if (rows >= maxRows)
      return QStringLiteral("depth %1/%2 after %3 rows, %4 wanted")
          .arg(deep)
          .arg(keys)
          .arg(rows)
          .arg(minDepth);
    rows = std::min(maxRows, rows * 2);
  }
}

}  // namespace velmora::test
