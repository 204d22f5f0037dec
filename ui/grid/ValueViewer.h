// The value viewer: one cell of the record grid, whole. A text in full, a
// blob as a hex dump with its size and, when it is a picture the program can
// read (PNG, JPEG, GIF, BMP, WebP), the picture. Only the first
// kViewerHeadBytes of a value are held; "Save Value As..." writes all of it,
// read again from the damaged file by the frame.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <functional>

#include "output/TableValues.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velmora {

// How much of a value the viewer holds and shows.
inline constexpr std::int64_t kViewerHeadBytes = 4 * 1024 * 1024;
// How much of a blob the hex dump shows.
inline constexpr std::int64_t kHexDumpBytes = 256 * 1024;

// Lines of 16 bytes: the offset (8 hex digits), the bytes in hex, then the
// bytes as printable ASCII ('.' for any other), at most `maxBytes` bytes.
QString HexDump(const QByteArray& bytes, std::int64_t maxBytes);

// "1 byte", "1,234 bytes (1.2 MB)".
QString SizeText(std::int64_t bytes);

// The file name "Save Value As..." suggests for a value of `table`.`column`:
// table_column_ROWID (or _rowN without a rowid) with the extension of what
// the value holds (.txt for texts and numbers; .png, .jpg, .gif, .bmp,
// .webp, .pdf, .zip, .gz, .db for blobs of those kinds; .bin otherwise).
// Characters a file name cannot hold become '_'.
QString SuggestedValueFileName(const QString& table, const QString& column, std::int64_t row,
                               const FetchedValue& value);

class CValueViewerDlg : public QDialog {
  Q_OBJECT
 public:
  // "Save Value As...": asks for a file and writes the whole value to it
  // (the callee tells the user how it went).
  using SaveAs = std::function<void()>;

  // `caption` names the cell ("orders.note, row 12"); `encoding` is the
  // database's text encoding.
  CValueViewerDlg(QWidget* parent, const QString& caption, const FetchedValue& value,
                  std::uint32_t encoding, SaveAs saveAs);

  QLabel* InfoLabel() const { return m_pInfo; }
  QPlainTextEdit* TextView() const { return m_pText; }
  QLabel* Picture() const { return m_pPicture; }  // null when the value is no picture
  QPushButton* SaveButton() const { return m_pSave; }

 private:
  QLabel* m_pInfo = nullptr;
  QPlainTextEdit* m_pText = nullptr;
  QLabel* m_pPicture = nullptr;
  QPushButton* m_pSave = nullptr;
};

}  // namespace velmora
