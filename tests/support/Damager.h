// Damages a database file byte by byte, at places found with PageProbe.
// Every function edits the file in place and returns false when the file
// cannot be changed as asked (missing page, no such cell, I/O error).
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace velmora::test {

// Copies `from` to `to` (replacing `to`); false on failure.
bool CopyDatabase(const QString& from, const QString& to);

// Overwrites `bytes.size()` bytes at `offset` (the file may grow).
bool PatchBytes(const QString& path, std::int64_t offset, const QByteArray& bytes);
bool PatchBe16(const QString& path, std::int64_t offset, std::uint16_t value);
bool PatchBe32(const QString& path, std::int64_t offset, std::uint32_t value);

// Fills page `page` with zero bytes.
bool ZeroPage(const QString& path, std::int64_t page);
// Fills page `page` with pseudo-random bytes from `seed` (same seed, same
// bytes on every run).
bool GarbagePage(const QString& path, std::int64_t page, std::uint32_t seed);
// Cuts the file to `size` bytes.
bool TruncateFile(const QString& path, std::int64_t size);

// Sets the child pointer of interior page `page`: the left child of cell
// `cellIndex`, or the right-most child when cellIndex is -1.
bool SetChildPointer(const QString& path, std::int64_t page, int cellIndex, std::uint32_t target);
// Sets the next-page number held in the first 4 bytes of overflow page `page`.
bool SetOverflowNext(const QString& path, std::int64_t page, std::uint32_t next);

// Overwrites the first `count` bytes of the SQL text of schema object `name`
// (found by searching the schema tree's cells for its CREATE statement) with
// `fill` bytes. False when the statement cannot be found in the file.
bool DamageSchemaSql(const QString& path, const QString& name, int skip, int count, char fill);
// The same for any field of the schema record: 0 type, 1 name, 2 tbl_name,
// 3 rootpage, 4 sql.
bool DamageSchemaField(const QString& path, const QString& name, int field, int skip, int count,
                       char fill);

// Header fields: the raw page-size bytes 16-17 and the text encoding 56-59.
bool SetHeaderPageSize(const QString& path, std::uint16_t raw);
bool SetHeaderEncoding(const QString& path, std::uint32_t encoding);

// A small deterministic generator for garbage and mutations.
class SeededRandom {
 public:
  explicit SeededRandom(std::uint32_t seed) : m_state(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t Next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
  }
  std::uint32_t Below(std::uint32_t bound) { return bound ? Next() % bound : 0; }

 private:
  std::uint32_t m_state;
};

}  // namespace velmora::test
