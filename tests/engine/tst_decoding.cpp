// The bounded decoders and the rendering of values, on hand-made cells.
#include <QtTest>
#include <cmath>
#include <cstring>
#include <random>

#include "engine/core/Format.h"
#include "engine/core/Values.h"
#include "engine/session/SQLiteRecovery.h"

using namespace velmora;

namespace {

QByteArray Varint(std::uint64_t v) {
  // The format's encoding: big-endian groups of 7 bits, 9th byte of 8 bits.
  if (v > 0x00FFFFFFFFFFFFFFull) {
    QByteArray out(9, '\0');
    out[8] = static_cast<char>(v & 0xFF);
    v >>= 8;
    for (int i = 7; i >= 0; --i) {
      out[i] = static_cast<char>((v & 0x7F) | 0x80);
      v >>= 7;
    }
    return out;
  }
  QByteArray rev;
  rev.append(static_cast<char>(v & 0x7F));
  v >>= 7;
  while (v != 0) {
    rev.append(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  std::reverse(rev.begin(), rev.end());
  return rev;
}

struct Value {
  std::uint64_t serialType;
  QByteArray body;
};

QByteArray Record(const std::vector<Value>& values) {
  QByteArray types;
  QByteArray body;
  for (const Value& v : values) {
    types += Varint(v.serialType);
    body += v.body;
  }
  QByteArray header = Varint(static_cast<std::uint64_t>(types.size() + 1)) + types;
  if (header.size() != types.size() + 1) header = Varint(types.size() + 2) + types;
  return header + body;
}

// A leaf table page of `pageSize` bytes whose one cell (rowid 7) holds
// `payload`; the payload must fit on the page.
std::vector<std::uint8_t> LeafPage(const QByteArray& payload, int pageSize, int* cellOffset) {
  std::vector<std::uint8_t> page(static_cast<std::size_t>(pageSize), 0);
  const QByteArray cell = Varint(payload.size()) + Varint(7) + payload;
  const int offset = pageSize - static_cast<int>(cell.size());
  std::memcpy(page.data() + offset, cell.constData(), static_cast<size_t>(cell.size()));
  page[0] = 13;
  page[4] = 1;
  page[8] = static_cast<std::uint8_t>(offset >> 8);
  page[9] = static_cast<std::uint8_t>(offset & 0xFF);
  *cellOffset = offset;
  return page;
}

// A page source with no file: one page of `pageSize` bytes, no reserved bytes.
struct Source {
  explicit Source(std::uint32_t encoding, int pageSize = 4096) {
    Geometry g;
    g.pageSize = g.usableSize = pageSize;
    g.pageCount = 1;
    g.textEncoding = encoding;
    source.SetGeometry(g);
  }
  // Decodes the cell at `offset` of a leaf table page image as the display does.
  RecordValues Decode(const std::uint8_t* page, int pageSize, int offset) {
    DecodeCellPayload(source, {13, page, pageSize, offset}, DecodeMode::Display, view);
    return MakeItems(view, source.geometry().textEncoding, true);
  }
  PageSource source;
  RecordView view;
};

RecordValues DecodeOne(const std::vector<Value>& values, std::uint32_t encoding) {
  Source source(encoding);
  int offset = 0;
  const auto page = LeafPage(Record(values), 4096, &offset);
  return source.Decode(page.data(), static_cast<int>(page.size()), offset);
}

QByteArray Bytes(std::initializer_list<int> list) {
  QByteArray out;
  for (int b : list) out.append(static_cast<char>(b));
  return out;
}

}  // namespace

class TestDecoding : public QObject {
  Q_OBJECT
 private slots:
  void varint_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("count");
    QTest::addColumn<quint64>("value");
    QTest::newRow("one byte") << Bytes({0x7F}) << 1 << 1 << quint64(127);
    QTest::newRow("two bytes") << Bytes({0x81, 0x00}) << 2 << 2 << quint64(128);
    QTest::newRow("stops at clear top bit") << Bytes({0x81, 0x01, 0xFF}) << 3 << 2 << quint64(129);
    QTest::newRow("nine bytes, all ones")
        << QByteArray(9, '\xFF') << 9 << 9 << quint64(0xFFFFFFFFFFFFFFFFull);
    QTest::newRow("nine bytes use all 8 bits of the last")
        << (QByteArray(8, '\x80') + Bytes({0xFF})) << 9 << 9 << quint64(0xFF);
    QTest::newRow("never more than nine")
        << QByteArray(12, '\xFF') << 12 << 9 << quint64(0xFFFFFFFFFFFFFFFFull);
    QTest::newRow("truncated by limit") << Bytes({0x81, 0x81, 0x01}) << 2 << 0 << quint64(0);
    QTest::newRow("truncated nine-byte") << QByteArray(9, '\xFF') << 8 << 0 << quint64(0);
    QTest::newRow("empty") << QByteArray() << 0 << 0 << quint64(0);
  }
  void varint() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, limit);
    QFETCH(int, count);
    QFETCH(quint64, value);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    std::uint64_t v = 0;
    QCOMPARE(format::ReadVarint(p, p + limit, &v), count);
    QCOMPARE(quint64(v), value);
  }

  void localPayload_data() {
    QTest::addColumn<quint64>("payload");
    QTest::addColumn<int>("pageType");
    QTest::addColumn<int>("usable");
    QTest::addColumn<qint64>("local");
    // Leaf table: everything up to U-35 stays local.
    QTest::newRow("table leaf fits") << quint64(4061) << 13 << 4096 << qint64(4061);
    // Spilling: K = M + (P - M) % (U - 4) when K <= X, else M = (U-12)*32/255-23.
    QTest::newRow("table leaf spills, K > X") << quint64(4062) << 13 << 4096 << qint64(489);
    QTest::newRow("table leaf spills, K <= X") << quint64(8000) << 13 << 4096 << qint64(3908);
    // Index pages: X = (U-12)*64/255-23.
    QTest::newRow("index leaf fits") << quint64(1002) << 10 << 4096 << qint64(1002);
    QTest::newRow("index leaf spills") << quint64(1003) << 10 << 4096 << qint64(489);
    QTest::newRow("index interior spills") << quint64(5000) << 2 << 4096 << qint64(908);
    // Reserved bytes shrink the usable size: 4096 - 32.
    QTest::newRow("reserved 32, fits") << quint64(4029) << 13 << 4064 << qint64(4029);
    QTest::newRow("reserved 32, spills") << quint64(4030) << 13 << 4064 << qint64(485);
    QTest::newRow("reserved 32, K <= X") << quint64(5000) << 13 << 4064 << qint64(940);
    QTest::newRow("64 KiB page") << quint64(65501) << 13 << 65536 << qint64(65501);
    // 2^64-1 as payload: no overflow in the arithmetic.
    QTest::newRow("huge payload") << quint64(0xFFFFFFFFFFFFFFFFull) << 13 << 512 << qint64(255);
  }
  void localPayload() {
    QFETCH(quint64, payload);
    QFETCH(int, pageType);
    QFETCH(int, usable);
    QFETCH(qint64, local);
    QCOMPARE(qint64(format::LocalPayloadSize(payload, pageType, usable)), local);
  }

  // Reals are shown with six decimals exactly as the C formatter writes them
  // ("%f"), whichever of its shortcuts FormatReal takes: near and exact ties,
  // signs, the limits of the shortcuts, random values and bit patterns.
  void realsAsTheFormatterWrites() {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::vector<double> values = {
        0.0, -0.0, 5e-7, -5e-7, 4.9999999e-7, 0.0078125, -0.0078125, 999999999.9999995,
        1e9, -1e9, 1e15, -1e15, 1.0 / 3,      INFINITY,  -INFINITY,  NAN};
    for (int i = 0; i < 20000; ++i) {
      const double near = std::round(unit(rng) * 1e7) / 1e7;
      std::uint64_t bits = rng();
      double pattern = 0;
      std::memcpy(&pattern, &bits, sizeof pattern);
      for (const double v : {unit(rng), unit(rng) * 1e9, unit(rng) * 1e-5, near,
                             std::nextafter(near, 2.0), std::nextafter(near, -2.0), pattern})
        values.push_back(v);
    }
    for (const double v : values) {
      const QString fixed = QString::asprintf("%f", v);
      QVERIFY2(FormatFixedReal(v) == fixed, qPrintable(QString::number(v, 'g', 17)));
      // The display text is "%f" or, where that misstates the value, a text
      // that reads back as the very same double.
      const QString shown = FormatReal(v);
      if (shown != fixed) QVERIFY2(shown.toDouble() == v, qPrintable(shown));
    }
  }

  // Where "%f" shows a non-zero value as zero or prints digits the double does
  // not hold, the display gives the shortest text that reads back as it.
  void realsThatFixedNotationMisstates_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("tiny") << 1e-10 << "1e-10";
    QTest::newRow("tiny negative") << -4e-07 << "-4e-07";
    QTest::newRow("huge") << 1.5e300 << "1.5e+300";
    QTest::newRow("16 digits") << 1234567890.123456 << "1234567890.123456";
    QTest::newRow("exact power of ten") << 1e22 << "10000000000000000000000.000000";
    QTest::newRow("large whole") << 1700000000.0 << "1700000000.000000";
    QTest::newRow("just below half a millionth") << 5e-7 << "5e-07";
    QTest::newRow("rounds to 1e-06") << 6e-7 << "0.000001";
    QTest::newRow("ordinary") << 3.25 << "3.250000";
    QTest::newRow("zero") << 0.0 << "0.000000";
    QTest::newRow("negative zero") << -0.0 << QString::asprintf("%f", -0.0);
  }
  void realsThatFixedNotationMisstates() {
    QFETCH(double, value);
    QFETCH(QString, shown);
    QCOMPARE(FormatReal(value), shown);
  }

  void rendering_data() {
    QTest::addColumn<quint64>("serialType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<uint>("encoding");
    QTest::addColumn<int>("storage");
    QTest::addColumn<QString>("display");
    const uint u8 = 1, le = 2, be = 3;
    const int kNull = int(StorageClass::Null), kInt = int(StorageClass::Integer),
              kReal = int(StorageClass::Real), kText = int(StorageClass::Text),
              kBlob = int(StorageClass::Blob);
    QTest::newRow("null") << quint64(0) << QByteArray() << u8 << kNull << "NULL";
    QTest::newRow("int8 -1") << quint64(1) << Bytes({0xFF}) << u8 << kInt << "-1";
    QTest::newRow("int24 min") << quint64(3) << Bytes({0x80, 0, 0}) << u8 << kInt << "-8388608";
    QTest::newRow("int48") << quint64(5) << Bytes({0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) << u8
                           << kInt << "140737488355327";
    QTest::newRow("int64 -1") << quint64(6) << QByteArray(8, '\xFF') << u8 << kInt << "-1";
    QTest::newRow("int64 max") << quint64(6) << (Bytes({0x7F}) + QByteArray(7, '\xFF')) << u8
                               << kInt << "9223372036854775807";
    QTest::newRow("real 1.5") << quint64(7) << Bytes({0x3F, 0xF8, 0, 0, 0, 0, 0, 0}) << u8 << kReal
                              << "1.500000";
    QTest::newRow("real 1e20") << quint64(7)
                               << Bytes({0x44, 0x15, 0xAF, 0x1D, 0x78, 0xB5, 0x8C, 0x40}) << u8
                               << kReal << "100000000000000000000.000000";
    QTest::newRow("zero") << quint64(8) << QByteArray() << u8 << kInt << "0";
    QTest::newRow("one") << quint64(9) << QByteArray() << u8 << kInt << "1";
    QTest::newRow("reserved 10") << quint64(10) << QByteArray() << u8 << kNull << "";
    QTest::newRow("blob") << quint64(12 + 2 * 3) << Bytes({1, 2, 3}) << u8 << kBlob << "Blob";
    QTest::newRow("trimmed ascii")
        << quint64(13 + 2 * 7) << QByteArray("  abc  ") << u8 << kText << "abc";
    QTest::newRow("one accented char") << quint64(13 + 2 * 2) << Bytes({0xC3, 0xA9}) << u8 << kText
                                       << QString::fromUtf8("\xC3\xA9");
    QTest::newRow("cut at zero for display")
        << quint64(13 + 2 * 3) << QByteArray("a\0b", 3) << u8 << kText << "a";
    QTest::newRow("utf16le, first byte zero")
        << quint64(13 + 2 * 4) << Bytes({0x00, 0x01, 0x41, 0x00}) << le << kText
        << QString::fromUtf8(
               "\xC4\x80"
               "A");
    QTest::newRow("utf16be") << quint64(13 + 2 * 4) << Bytes({0x00, 0x41, 0x04, 0x10}) << be
                             << kText << QString::fromUtf8("A\xD0\x90");
    QTest::newRow("utf16le surrogate pair")
        << quint64(13 + 2 * 4) << Bytes({0x3D, 0xD8, 0x00, 0xDE}) << le << kText
        << QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("unknown encoding reads as utf8")
        << quint64(13 + 2 * 2) << QByteArray("hi") << 7u << kText << "hi";
  }
  void rendering() {
    QFETCH(quint64, serialType);
    QFETCH(QByteArray, body);
    QFETCH(uint, encoding);
    QFETCH(int, storage);
    QFETCH(QString, display);
    const RecordValues values = DecodeOne({{serialType, body}, {1, Bytes({5})}}, encoding);
    QCOMPARE(values.size(), std::size_t(2));
    QCOMPARE(int(values[0].storage), storage);
    QCOMPARE(values[0].display, display);
    QCOMPARE(values[0].serialType, qint64(serialType));
    if (storage == int(StorageClass::Text) || storage == int(StorageClass::Blob)) {
      QCOMPARE(values[0].bytes, body);  // exactly its bytes: not cut, not trimmed
      QCOMPARE(values[0].length, qint64(body.size()));
    }
    // The value after it is read from where it ends.
    QCOMPARE(values[1].intValue, qint64(5));
  }

  // In a table's records a text that happens to name an automatic index does
  // not turn the next NULL into text read from elsewhere in the file.
  void autoindexTextInTableKeepsNull() {
    const QByteArray name("sqlite_autoindex_t_1");
    const RecordValues v =
        DecodeOne({{13 + 2 * std::uint64_t(name.size()), name}, {1, Bytes({3})}, {0, {}}}, 1);
    QCOMPARE(v.size(), std::size_t(3));
    QCOMPARE(v[2].storage, StorageClass::Null);
    QCOMPARE(v[2].display, QStringLiteral("NULL"));
  }

  void realKeepsEveryBit() {
    const RecordValues v =
        DecodeOne({{7, Bytes({0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A})}}, 1);
    QCOMPARE(v.size(), std::size_t(1));
    QCOMPARE(v[0].realValue, 0.1);
    QCOMPARE(v[0].display, QStringLiteral("0.100000"));
  }

  void damagedRecords_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("values");
    // header size larger than the payload: nothing
    QTest::newRow("header beyond payload") << (Bytes({0x7F, 0x01}) + Bytes({5})) << 0;
    QTest::newRow("header size zero") << Bytes({0x00, 0x01, 0x05}) << 0;
    QTest::newRow("header size one (no types)") << Bytes({0x01, 0x05}) << 0;
    // two ints announced, one present: the first survives
    QTest::newRow("body shorter than header says") << Bytes({0x03, 0x01, 0x01, 0x05}) << 1;
    // a text announced far longer than the payload
    QTest::newRow("text longer than payload") << Bytes({0x04, 0x01, 0x81, 0x7F, 0x05, 'a'}) << 1;
    // a serial-type varint cut by the header end
    QTest::newRow("serial type cut") << Bytes({0x03, 0x01, 0x81, 0x05}) << 1;
  }
  void damagedRecords() {
    QFETCH(QByteArray, payload);
    QFETCH(int, values);
    Source source(1);
    int offset = 0;
    const auto page = LeafPage(payload, 4096, &offset);
    const RecordValues out = source.Decode(page.data(), 4096, offset);
    QCOMPARE(int(out.size()), values);
  }

  void cellRunsOffThePage() {
    // A cell near the end of the page whose payload size claims more than is
    // left: nothing beyond the page image may be read (ASan would tell).
    Source source(1, 512);
    std::vector<std::uint8_t> page(512, 0);
    const int offset = 505;
    page[505] = 0x81;  // payload 200 ...
    page[506] = 0x48;
    page[507] = 0x07;  // rowid
    page[508] = 0x03;  // header size 3
    page[509] = 0x01;
    page[510] = 0x01;
    page[511] = 0x09;
    const RecordValues out = source.Decode(page.data(), 512, offset);
    QCOMPARE(source.view.rowid, qint64(7));
    QCOMPARE(source.view.localPayload, qint64(200));
    QCOMPARE(out.size(), std::size_t(1));  // one byte of body left on the page
    QCOMPARE(out[0].intValue, qint64(9));
  }

  // Whether the record's local bytes stay inside the space the page leaves
  // its cell (unknown: only the page bounds it).
  void fitsItsCell_data() {
    QTest::addColumn<int>("space");
    QTest::addColumn<bool>("fits");
    QTest::newRow("unknown") << -1 << true;
    QTest::newRow("room to spare") << 100 << true;
    QTest::newRow("exactly") << 3 << true;
    QTest::newRow("overlaps the next cell") << 2 << false;
    QTest::newRow("past the usable end") << 0 << false;
  }
  void fitsItsCell() {
    QFETCH(int, space);
    QFETCH(bool, fits);
    Source source(1);
    std::vector<std::uint8_t> page(4096, 0);
    const QByteArray cell = Varint(3) + Varint(1) + Record({{1, QByteArray(1, 'x')}});
    std::memcpy(page.data() + 1000, cell.constData(), static_cast<size_t>(cell.size()));
    QCOMPARE(DecodeCellPayload(source.source, {13, page.data(), 4096, 1000, space},
                               DecodeMode::Display, source.view),
             fits);
    QCOMPARE(source.view.localPayload, qint64(3));
  }

  void rowidRendersSigned_data() {
    QTest::addColumn<quint64>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("max") << quint64(0x7FFFFFFFFFFFFFFFull) << "9223372036854775807";
    QTest::newRow("negative") << quint64(0xFFFFFFFFFFFFFFFEull) << "-2";
  }
  void rowidRendersSigned() {
    QFETCH(quint64, raw);
    QFETCH(QString, text);
    Source source(1);
    std::vector<std::uint8_t> page(4096, 0);
    const QByteArray cell = Varint(3) + Varint(raw) + Record({{9, {}}});
    std::memcpy(page.data() + 1000, cell.constData(), static_cast<size_t>(cell.size()));
    source.Decode(page.data(), 4096, 1000);
    QVERIFY(source.view.hasRowid);
    QCOMPARE(QString::number(source.view.rowid), text);
  }
};

QTEST_GUILESS_MAIN(TestDecoding)
#include "tst_decoding.moc"
