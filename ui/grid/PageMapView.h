// The page map of the recovery summary: the whole file as one small square
// per page, coloured by what the recovery made of the page, with a legend.
// Hovering a square names its page and lights up every page of the same
// table; clicking one names the page, its role and its table below the map.
//
// It paints from the summary's compact per-page array (engine/PagePicture.h)
// and only the rows in view, so a file of hundreds of thousands of pages
// scrolls as lightly as a small one.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QLabel>
#include <QWidget>

#include "engine/passes/PagePicture.h"

namespace velmora {

// The colour of a page use in the map and its legend.
QColor PageUseColor(PageUse use);
// The legend's name of a page use.
QString PageUseName(PageUse use);
// What page `page` of `picture` is, in one sentence: its number, its use,
// its tree and table, where its image came from.
QString DescribePage(const PagePicture& picture, std::int64_t page);

// The squares.
class CPageMapCanvas : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit CPageMapCanvas(QWidget* parent = nullptr);

  void SetPicture(const PagePicture* picture);
  // The page under `point` (viewport coordinates); 0 when none.
  std::int64_t PageAt(const QPoint& point) const;
  // The square of `page` in viewport coordinates (empty when out of range).
  QRect SquareOf(std::int64_t page) const;
  std::int64_t HoveredPage() const { return m_hovered; }
  std::int64_t SelectedPage() const { return m_selected; }
  // Selects `page` as a click does (0 clears).
  void SelectPage(std::int64_t page);
  int Pitch() const { return m_pitch; }

 signals:
  void pageSelected(qint64 page);
  void pageHovered(qint64 page);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Layout();
  std::int64_t PageCount() const;

  const PagePicture* m_picture = nullptr;
  int m_pitch = 10;  // square plus gap, in pixels
  int m_columns = 1;
  std::int64_t m_hovered = 0;
  std::int64_t m_selected = 0;
};

// The legend, the squares and the line naming the page clicked.
class CPageMapView : public QWidget {
  Q_OBJECT
 public:
  explicit CPageMapView(QWidget* parent = nullptr);

  // Shows `picture` (copied: the view outlives the summary it came from).
  void SetPicture(const PagePicture& picture);
  CPageMapCanvas* Canvas() const { return m_pCanvas; }
  QString PageText() const { return m_pPageLabel->text(); }
  QString LegendText() const;

 private:
  void FillLegend();

  PagePicture m_picture;
  QWidget* m_pLegend;
  CPageMapCanvas* m_pCanvas;
  QLabel* m_pPageLabel;
};

}  // namespace velmora
