// How decoded values become texts: the exact text of a text value, and the
// display text that the record grid shows.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "engine/core/Item.h"
#include "engine/core/RecordView.h"

namespace velmora {

// Display text of a value that is too long to show whole: its first
// kLongTextChars characters, then kMoreDataMark.
inline constexpr int kLongTextChars = 1000;
inline constexpr const char* kMoreDataMark = "<more data>...";

// The text held in `bytes`, decoded in the database's text encoding
// (2 UTF-16le, 3 UTF-16be, anything else UTF-8), every character kept (zero
// characters and white space included). A UTF-16 text of odd length loses
// its incomplete last byte.
QString DecodeText(const QByteArray& bytes, std::uint32_t encoding);

// The name of a text encoding as the header gives it: "UTF-8", "UTF-16le",
// "UTF-16be" (an unknown value reads as UTF-8).
QString EncodingText(std::uint32_t encoding);

// The display text of a real: as "%f" renders it (six digits after the
// point, no exponent) where that shows the value; where "%f" would show a
// non-zero value as zero (1e-10 as "0.000000") or print more than 15
// significant digits (1.5e300 as a 301-digit number), the shortest text that
// reads back as the same double ("1e-10", "1.5e+300").
QString FormatReal(double value);
// A real exactly as "%f" renders it.
QString FormatFixedReal(double value);

// The display text of a value of a record view, by the rendering table:
// integers in decimal, reals with "%f", "NULL", "0"/"1" for serial types 8
// and 9, "" for 10 and 11, "Blob" for blobs; a text decoded, cut at its first
// zero character, leading and trailing white space removed. A text of which
// only the start is held (display mode) shows its first kLongTextChars
// characters, then kMoreDataMark.
QString RenderDisplay(const RecordView& view, const ValueView& value, std::uint32_t encoding);

// The exact text of a value of a view: a text with every held byte decoded
// (zero characters and white space kept), integers and reals as for display,
// NULL and blobs as an empty text.
QString ExactText(const RecordView& view, const ValueView& value, std::uint32_t encoding);

// The value as an ITEM (bytes copied; the display text made when
// `withDisplay`), for code that keeps values beyond the next record.
ITEM MakeItem(const RecordView& view, const ValueView& value, std::uint32_t encoding,
              bool withDisplay);

// Every value of `view` as ITEMs.
RecordValues MakeItems(const RecordView& view, std::uint32_t encoding, bool withDisplay);

}  // namespace velmora
