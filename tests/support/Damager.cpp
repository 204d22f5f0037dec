#include "tests/support/Damager.h"

#include <QFile>

#include "tests/support/PageProbe.h"

namespace velmora::test {

bool CopyDatabase(const QString& from, const QString& to) {
  QFile::remove(to);
  return QFile::copy(from, to) && QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner);
}

bool PatchBytes(const QString& path, std::int64_t offset, const QByteArray& bytes) {
  QFile file(path);
  if (offset < 0 || !file.open(QIODevice::ReadWrite)) return false;
  return file.seek(offset) && file.write(bytes) == bytes.size();
}

bool PatchBe16(const QString& path, std::int64_t offset, std::uint16_t value) {
  QByteArray b(2, 0);
  b[0] = char(value >> 8);
  b[1] = char(value);
  return PatchBytes(path, offset, b);
}

bool PatchBe32(const QString& path, std::int64_t offset, std::uint32_t value) {
  QByteArray b(4, 0);
  for (int i = 0; i < 4; ++i) b[i] = char(value >> (24 - 8 * i));
  return PatchBytes(path, offset, b);
}

bool ZeroPage(const QString& path, std::int64_t page) {
  PageProbe in(path);
  if (!in.Ok() || page < 1 || page > in.PageCount()) return false;
  return PatchBytes(path, in.PageOffset(page), QByteArray(in.PageSize(), 0));
}

bool GarbagePage(const QString& path, std::int64_t page, std::uint32_t seed) {
  PageProbe in(path);
  if (!in.Ok() || page < 1 || page > in.PageCount()) return false;
  SeededRandom random(seed);
  QByteArray bytes(in.PageSize(), 0);
  for (char& c : bytes) c = char(random.Next() >> 24);
  return PatchBytes(path, in.PageOffset(page), bytes);
}

bool TruncateFile(const QString& path, std::int64_t size) {
  QFile file(path);
  return file.resize(size);
}

bool SetChildPointer(const QString& path, std::int64_t page, int cellIndex, std::uint32_t target) {
  PageProbe in(path);
  const int type = in.Type(page);
  if (type != kInteriorIndex && type != kInteriorTable) return false;
  if (cellIndex < 0)
    return PatchBe32(path, in.PageOffset(page) + PageProbe::HeaderStart(page) + 8, target);
  if (cellIndex >= in.CellCount(page)) return false;
  const QByteArray image = in.Page(page);
  const std::uint32_t cellOffset = PageProbe::Be16(image, in.CellPointerOffset(page, cellIndex));
  if (cellOffset == 0 || cellOffset + 4 > std::uint32_t(in.PageSize())) return false;
  return PatchBe32(path, in.PageOffset(page) + cellOffset, target);
}

bool SetOverflowNext(const QString& path, std::int64_t page, std::uint32_t next) {
  PageProbe in(path);
  if (!in.Ok() || page < 1 || page > in.PageCount()) return false;
  return PatchBe32(path, in.PageOffset(page), next);
}

bool DamageSchemaSql(const QString& path, const QString& name, int skip, int count, char fill) {
  return DamageSchemaField(path, name, 4, skip, count, fill);
}

bool DamageSchemaField(const QString& path, const QString& name, int field, int skip, int count,
                       char fill) {
  PageProbe in(path);
  if (!in.Ok()) return false;
  // The statement is stored in the database encoding; search for the name as
  // it appears in the CREATE statement's text.
  QByteArray needle;
  switch (in.TextEncoding()) {
    case 2: {
      const QString s = name;
      needle = QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
      break;
    }
    case 3: {
      for (QChar c : name) {
        needle.append(char(c.unicode() >> 8));
        needle.append(char(c.unicode()));
      }
      break;
    }
    default:
      needle = name.toUtf8();
  }
  // Schema records: type, name, tbl_name, rootpage, sql. Find the one whose
  // name field is `name` and overwrite bytes of the field asked for.
  const TreePages schema = in.Tree(1);
  QList<std::int64_t> pages = schema.leaves;
  for (std::int64_t page : pages) {
    const QByteArray image = in.Page(page);
    for (const CellInfo& cell : in.Cells(page)) {
      const QList<PageProbe::Field> fields = in.LocalFields(page, cell);
      if (fields.size() < 5) continue;
      if (image.mid(fields[1].offset, fields[1].size) != needle) continue;
      if (field < 0 || field > 4 || skip < 0 || count < 0 || skip + count > fields[field].size)
        return false;
      return PatchBytes(path, in.PageOffset(page) + fields[field].offset + skip,
                        QByteArray(count, fill));
    }
  }
  return false;
}

bool SetHeaderPageSize(const QString& path, std::uint16_t raw) { return PatchBe16(path, 16, raw); }

bool SetHeaderEncoding(const QString& path, std::uint32_t encoding) {
  return PatchBe32(path, 56, encoding);
}

}  // namespace velmora::test
