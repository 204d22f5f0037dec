// A decoded record as a view: per value its storage class and its integer,
// real, or span of bytes in a buffer that is reused from record to record.
//
// Decoding a record allocates nothing per value once the view's buffers have
// grown to the size of the largest record: the save binds straight from the
// view, the display makes its texts from it.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/core/Item.h"

namespace velmora {

// One value of a record.
//
//  storage     storage class from the serial type
//  serialType  the serial type read from the record header
//  intValue    Integer: the value (serial types 1-6, 8, 9)
//  realValue   Real: every bit of the stored double
//  offset      Text/Blob: where its bytes start in RecordView::bytes
//  held        Text/Blob: how many of its bytes are held there (all of them,
//              unless the value is in a temporary file or only its start is
//              held for display)
//  length      Text/Blob: the length L that the serial type announces
//  tempFile    index into RecordView::tempFiles when the bytes were written
//              to a temporary file (save mode, values longer than a page); -1
//  complete    false when damage cut the value short (what could be read is held)
//  prefixOnly  display mode: a value longer than a page of which only the
//              start (a text) or nothing (a blob) is held
struct ValueView {
  StorageClass storage = StorageClass::Null;
  std::int64_t serialType = 0;
  std::int64_t intValue = 0;
  double realValue = 0.0;
  std::int64_t offset = 0;
  std::int64_t held = 0;
  std::int64_t length = 0;
  int tempFile = -1;
  bool complete = true;
  bool prefixOnly = false;
};

struct RecordView {
  std::vector<ValueView> values;
  std::vector<std::uint8_t> bytes;  // the held bytes of the text and blob values
  std::vector<QString> tempFiles;   // paths of the values written to temporary files
  bool hasRowid = false;            // a table leaf cell
  std::int64_t rowid = 0;
  std::int64_t localPayload = 0;  // payload bytes the cell keeps on its page

  // Empties the view; its buffers keep their capacity.
  void Clear() {
    values.clear();
    bytes.clear();
    tempFiles.clear();
    hasRowid = false;
    rowid = 0;
    localPayload = 0;
  }
  int Size() const { return static_cast<int>(values.size()); }
  const std::uint8_t* Data(const ValueView& v) const {
    return v.held > 0 ? bytes.data() + v.offset : nullptr;
  }
  // The held bytes of a text or blob value, copied.
  QByteArray Bytes(const ValueView& v) const {
    return v.held > 0 ? QByteArray(reinterpret_cast<const char*>(bytes.data() + v.offset),
                                   static_cast<qsizetype>(v.held))
                      : QByteArray();
  }
  const QString* TempFile(const ValueView& v) const {
    return v.tempFile >= 0 && v.tempFile < static_cast<int>(tempFiles.size())
               ? &tempFiles[static_cast<std::size_t>(v.tempFile)]
               : nullptr;
  }
};

}  // namespace velmora
