// One decoded value of a record, and a record as a list of them.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace velmora {

// The storage class of a value, as the record header's serial type says.
enum class StorageClass : std::uint8_t { Null, Integer, Real, Text, Blob };

// ITEM: one decoded value. It keeps the value itself (storage class and exact
// content) and, derived from it, the text that the record grid shows.
//
//  storage      storage class from the serial type
//  serialType   the serial type read from the record header
//  intValue     Integer: the value (serial types 1-6, 8, 9)
//  realValue    Real: the value, every bit of the stored double
//  bytes        Text: exactly the value's L bytes in the database's text
//               encoding (never cut at a zero byte, never extended);
//               Blob: exactly its bytes. Empty when the value lives in a
//               temporary file, or when a long value was only skipped over
//               (display mode).
//  length       Text/Blob: the length L that the serial type announces
//  inTempFile   the value's bytes were written to tempFilePath (save mode,
//               values longer than a page); the value, not a pattern in a
//               text, says so
//  tempFilePath path of that temporary file
//  complete     false when damage cut the value short (the bytes held are
//               those that could be read)
//  display      the display text (rendering rules of the record decoder);
//               left empty when a table is walked in save mode
struct ITEM {
  StorageClass storage = StorageClass::Null;
  std::int64_t serialType = 0;
  std::int64_t intValue = 0;
  double realValue = 0.0;
  QByteArray bytes;
  std::int64_t length = 0;
  bool inTempFile = false;
  QString tempFilePath;
  bool complete = true;
  QString display;
};

// A record: its values in column order.
using RecordValues = std::vector<ITEM>;

}  // namespace velmora
