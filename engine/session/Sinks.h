// The small interfaces through which the engine and the output code reach
// what they show: the record grid, the status-bar texts and controls and the
// statement edit.
//
// The graphical program implements them with widgets, the command-line tool
// with the terminal, tests with recorders; a caller without one of the
// controls passes the silent stand-in below. The engine's own walks know
// none of them.
#pragma once

#include <QString>
#include <cstdint>

namespace velmora {

// A control that can be shown and hidden (the status-bar Stop button).
class IControl {
 public:
  virtual ~IControl() = default;
  virtual void SetVisible(bool visible) = 0;
};

// The status-bar record-count text.
class IStatusText : public IControl {
 public:
  virtual void SetText(const QString& text) = 0;
};

// The status-bar progress bar.
class IProgressBar : public IControl {
 public:
  virtual void SetRange(int low, int high) = 0;
  virtual void SetPos(int pos) = 0;
  virtual void SetBarColor(std::uint32_t rgb) = 0;  // 0xRRGGBB
};

// The right pane's statement edit (SQL of a view, index or trigger).
class IStatementEdit : public IControl {
 public:
  virtual void SetText(const QString& text) = 0;
  virtual void SetFocus() = 0;
};

// The record grid: columns with captions, rows that are appended one cell at
// a time. Cell texts live in the column value stores (output/ColumnStores.h);
// the grid itself holds none.
// How a grid cell sorts, as SQLite orders values: NULL first, then numbers
// by value (integers and reals compared as numbers), then texts, then blobs.
struct CellSortKey {
  enum class Kind : std::uint8_t { Unknown, Null, Integer, Real, Text, Blob };
  Kind kind = Kind::Unknown;  // Unknown: sorted with the texts, by its text
  std::int64_t intValue = 0;
  double realValue = 0.0;
};

class IRecordGrid : public IControl {
 public:
  // AddGridCell with the sort key of the cell's value; a grid that does not
  // sort keeps only the text.
  virtual void AddGridValue(int column, const QString& text, const CellSortKey& key) {
    (void)key;
    AddGridCell(column, text);
  }
  virtual int ItemCount() const = 0;    // rows present
  virtual int ColumnCount() const = 0;  // columns present
  virtual void DeleteAllColumns() = 0;
  virtual void DeleteAllItems() = 0;
  virtual void Redraw() = 0;  // repaint everything now (rows may have arrived)
  // Creates the value store of column `index` and the column with `caption`.
  virtual void AddGridColumn(int index, const QString& caption) = 0;
  // Column 0 starts a new row; any other column fills the last row.
  virtual void AddGridCell(int column, const QString& text) = 0;
};

// Stand-ins that show nothing, for a caller that has no such control.
class SilentControl : public IControl {
 public:
  void SetVisible(bool) override {}
};
class SilentStatusText : public IStatusText {
 public:
  void SetVisible(bool) override {}
  void SetText(const QString&) override {}
};
class SilentProgressBar : public IProgressBar {
 public:
  void SetVisible(bool) override {}
  void SetRange(int, int) override {}
  void SetPos(int) override {}
  void SetBarColor(std::uint32_t) override {}
};
class SilentStatementEdit : public IStatementEdit {
 public:
  void SetVisible(bool) override {}
  void SetText(const QString&) override {}
  void SetFocus() override {}
};

}  // namespace velmora
