#include "ui/grid/PageMapView.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Text.h"

namespace velmora {
namespace {

constexpr int kMinPitch = 6;  // a 5-pixel square and a 1-pixel gap
constexpr int kMaxPitch = 24;

QString Quoted(const QString& name) { return QStringLiteral("\"%1\"").arg(name); }

}  // namespace

QColor PageUseColor(PageUse use) {
  switch (use) {
    case PageUse::NotClassified:
      return QColor(0xFF, 0xFF, 0xFF);
    case PageUse::Schema:
      return QColor(0x1F, 0x3F, 0x8F);
    case PageUse::Table:
      return QColor(0x2E, 0x9A, 0x47);
    case PageUse::Index:
      return QColor(0x7C, 0xC7, 0xE8);
    case PageUse::Freelist:
      return QColor(0xC9, 0xC9, 0xC9);
    case PageUse::FileStructure:
      return QColor(0x7A, 0x7A, 0x7A);
    case PageUse::PutBack:
      return QColor(0xF2, 0xC1, 0x2E);
    case PageUse::LostAndFound:
      return QColor(0xF0, 0x7D, 0x1A);
    case PageUse::Orphan:
      return QColor(0xA5, 0x7B, 0xD6);
    case PageUse::Unreadable:
      return QColor(0xD0, 0x31, 0x2D);
  }
  return QColor(Qt::black);
}

QString PageUseName(PageUse use) {
  switch (use) {
    case PageUse::NotClassified:
      return QStringLiteral("not classified");
    case PageUse::Schema:
      return QStringLiteral("schema tree");
    case PageUse::Table:
      return QStringLiteral("table tree");
    case PageUse::Index:
      return QStringLiteral("index tree");
    case PageUse::Freelist:
      return QStringLiteral("freelist");
    case PageUse::FileStructure:
      return QStringLiteral("pointer map, lock byte");
    case PageUse::PutBack:
      return QStringLiteral("orphan, put back into its table");
    case PageUse::LostAndFound:
      return QStringLiteral("orphan, in lost and found");
    case PageUse::Orphan:
      return QStringLiteral("orphan, nothing taken");
    case PageUse::Unreadable:
      return QStringLiteral("unreadable");
  }
  return QString();
}

QString DescribePage(const PagePicture& picture, std::int64_t page) {
  if (page < 1 || page > std::int64_t(picture.pages.size())) return QString();
  const PageTree* tree = picture.Tree(page);
  const QString name = tree != nullptr ? Quoted(tree->name) : QStringLiteral("(unknown)");
  QString what;
  switch (picture.Use(page)) {
    case PageUse::NotClassified:
      what = QStringLiteral("not classified: the counting was stopped before it");
      break;
    case PageUse::Schema:
      what = QStringLiteral("a page of the schema tree");
      break;
    case PageUse::Table:
      what = QStringLiteral("a page of the tree of table %1").arg(name);
      break;
    case PageUse::Index:
      what = QStringLiteral("a page of the tree of index %1").arg(name);
      if (tree != nullptr && !tree->tableName.isEmpty())
        what += QStringLiteral(" of table %1").arg(Quoted(tree->tableName));
      break;
    case PageUse::Freelist:
      what = QStringLiteral("on the freelist: deleted content, never read for rows");
      break;
    case PageUse::FileStructure:
      what = QStringLiteral("a pointer-map page or the lock-byte page: holds no rows");
      break;
    case PageUse::PutBack:
      what = QStringLiteral("an orphan page whose rows were put back into table %1").arg(name);
      break;
    case PageUse::LostAndFound:
      what = QStringLiteral("an orphan page whose rows are kept in %1: they fit no one table")
                 .arg(name);
      break;
    case PageUse::Orphan:
      what = QStringLiteral(
          "an orphan b-tree page that no live tree reaches; no rows were taken "
          "from it");
      break;
    case PageUse::Unreadable:
      what = QStringLiteral(
          "unreadable: not a usable b-tree page (damaged, zeroed, or missing "
          "from the file)");
      break;
  }
  QString text = QStringLiteral("Page %1 of %2: %3").arg(page).arg(picture.pageCount).arg(what);
  if ((picture.Flags(page) & kPageFromWal) != 0)
    text += QStringLiteral("; read from the write-ahead log");
  else if ((picture.Flags(page) & kPageFromJournal) != 0)
    text += QStringLiteral("; read from the rollback journal");
  return text;
}

// --- the squares ---

CPageMapCanvas::CPageMapCanvas(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName(QStringLiteral("pageMapCanvas"));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setMouseTracking(true);
  viewport()->setAutoFillBackground(false);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumHeight(80);
}

std::int64_t CPageMapCanvas::PageCount() const {
  return m_picture != nullptr ? std::int64_t(m_picture->pages.size()) : 0;
}

void CPageMapCanvas::SetPicture(const PagePicture* picture) {
  m_picture = picture;
  m_hovered = m_selected = 0;
  Layout();
  viewport()->update();
}

void CPageMapCanvas::Layout() {
  const int width = std::max(1, viewport()->width());
  const int height = std::max(1, viewport()->height());
  const std::int64_t pages = std::max<std::int64_t>(1, PageCount());
  // Squares as large as fit the pane without scrolling, within bounds.
  const double fit = std::sqrt(double(width) * double(height) / double(pages));
  m_pitch = std::clamp(int(fit), kMinPitch, kMaxPitch);
  while (m_pitch > kMinPitch) {
    const std::int64_t columns = std::max(1, width / m_pitch);
    if ((pages + columns - 1) / columns * m_pitch <= height) break;
    --m_pitch;
  }
  m_columns = std::max(1, width / m_pitch);
  const std::int64_t rows = (PageCount() + m_columns - 1) / m_columns;
  const std::int64_t total = rows * m_pitch;
  verticalScrollBar()->setRange(
      0, int(std::min<std::int64_t>(std::max<std::int64_t>(0, total - height),
                                    std::numeric_limits<int>::max())));
  verticalScrollBar()->setSingleStep(m_pitch);
  verticalScrollBar()->setPageStep(height);
}

std::int64_t CPageMapCanvas::PageAt(const QPoint& point) const {
  if (point.x() < 0 || point.y() < 0) return 0;
  const int column = point.x() / m_pitch;
  if (column >= m_columns || point.x() % m_pitch == m_pitch - 1) return 0;
  const std::int64_t row = (std::int64_t(point.y()) + verticalScrollBar()->value()) / m_pitch;
  const std::int64_t page = row * m_columns + column + 1;
  return page <= PageCount() ? page : 0;
}

QRect CPageMapCanvas::SquareOf(std::int64_t page) const {
  if (page < 1 || page > PageCount()) return QRect();
  const std::int64_t index = page - 1;
  const std::int64_t y = (index / m_columns) * m_pitch - verticalScrollBar()->value();
  const int x = int(index % m_columns) * m_pitch;
  return QRect(x, int(y), m_pitch - 1, m_pitch - 1);
}

void CPageMapCanvas::SelectPage(std::int64_t page) {
  if (page < 0 || page > PageCount()) return;
  m_selected = page;
  if (page > 0) {
    // Scrolled into view.
    const QRect square = SquareOf(page);
    if (square.top() < 0)
      verticalScrollBar()->setValue(verticalScrollBar()->value() + square.top());
    else if (square.bottom() >= viewport()->height())
      verticalScrollBar()->setValue(verticalScrollBar()->value() + square.bottom() -
                                    viewport()->height() + 1);
  }
  viewport()->update();
  emit pageSelected(page);
}

void CPageMapCanvas::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
  if (m_picture == nullptr || PageCount() == 0) return;
  // The pages of the hovered page's table stand out; the others fade.
  QString table;
  if (const PageTree* tree = m_picture->Tree(m_hovered)) table = tree->tableName;
  std::vector<char> lit;
  if (!table.isEmpty()) {
    lit.resize(m_picture->trees.size(), 0);
    for (std::size_t i = 0; i < lit.size(); ++i) lit[i] = m_picture->trees[i].tableName == table;
  }
  const int scroll = verticalScrollBar()->value();
  const std::int64_t firstRow = scroll / m_pitch;
  const std::int64_t lastRow = (std::int64_t(scroll) + viewport()->height()) / m_pitch;
  const std::int64_t first = firstRow * m_columns + 1;
  const std::int64_t last = std::min(PageCount(), (lastRow + 1) * m_columns);
  const int side = m_pitch - 1;
  const QColor border = palette().color(QPalette::Mid);
  for (std::int64_t page = first; page <= last; ++page) {
    const QRect square = SquareOf(page);
    const PageUse use = m_picture->Use(page);
    QColor color = PageUseColor(use);
    if (!lit.empty()) {
      const std::uint32_t at = m_picture->treeOf[std::size_t(page - 1)];
      if (at == 0 || !lit[at - 1])  // faded two thirds of the way to white
        color =
            QColor((color.red() + 510) / 3, (color.green() + 510) / 3, (color.blue() + 510) / 3);
    }
    p.fillRect(square, color);
    if (use == PageUse::NotClassified) {
      p.setPen(border);
      p.drawRect(square.adjusted(0, 0, -1, -1));
    }
    if ((m_picture->Flags(page) & (kPageFromWal | kPageFromJournal)) != 0) {
      // Read from a companion file: a dark corner.
      const int corner = std::max(2, side / 2);
      const QPoint points[3] = {square.topLeft(), square.topLeft() + QPoint(corner, 0),
                                square.topLeft() + QPoint(0, corner)};
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::black);
      p.drawPolygon(points, 3);
    }
  }
  if (m_selected > 0) {
    const QRect square = SquareOf(m_selected);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.drawRect(square.adjusted(-1, -1, 1, 1));
  }
}

void CPageMapCanvas::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Layout();
}

void CPageMapCanvas::mouseMoveEvent(QMouseEvent* event) {
  const std::int64_t page = PageAt(event->position().toPoint());
  if (page != m_hovered) {
    m_hovered = page;
    viewport()->update();
    emit pageHovered(page);
  }
  // A table's name comes from the file: shown as it is, never as HTML.
  if (page > 0 && m_picture != nullptr)
    QToolTip::showText(event->globalPosition().toPoint(),
                       PlainToolTip(DescribePage(*m_picture, page)), this);
  else
    QToolTip::hideText();
}

void CPageMapCanvas::mousePressEvent(QMouseEvent* event) {
  const std::int64_t page = PageAt(event->position().toPoint());
  if (page > 0) SelectPage(page);
}

void CPageMapCanvas::leaveEvent(QEvent* event) {
  QAbstractScrollArea::leaveEvent(event);
  if (m_hovered != 0) {
    m_hovered = 0;
    viewport()->update();
    emit pageHovered(0);
  }
}

void CPageMapCanvas::keyPressEvent(QKeyEvent* event) {
  const std::int64_t n = PageCount();
  if (n == 0) return QAbstractScrollArea::keyPressEvent(event);
  const std::int64_t at = m_selected > 0 ? m_selected : 1;
  std::int64_t to = at;
  switch (event->key()) {
    case Qt::Key_Left:
      to = at - 1;
      break;
    case Qt::Key_Right:
      to = at + 1;
      break;
    case Qt::Key_Up:
      to = at - m_columns;
      break;
    case Qt::Key_Down:
      to = at + m_columns;
      break;
    case Qt::Key_Home:
      to = 1;
      break;
    case Qt::Key_End:
      to = n;
      break;
    default:
      return QAbstractScrollArea::keyPressEvent(event);
  }
  SelectPage(std::clamp<std::int64_t>(to, 1, n));
}

// --- legend, squares, the page clicked ---

CPageMapView::CPageMapView(QWidget* parent)
    : QWidget(parent),
      m_pLegend(new QWidget(this)),
      m_pCanvas(new CPageMapCanvas(this)),
      m_pPageLabel(new QLabel(this)) {
  setObjectName(QStringLiteral("pageMap"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* title = new QLabel(QStringLiteral("<b>Page map</b>: every page of the file, by what the "
                                          "recovery made of it. Point at a page to see its table, "
                                          "click it to name it."),
                           this);
  title->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(m_pLegend);
  layout->addWidget(m_pCanvas, 1);
  m_pPageLabel->setTextFormat(Qt::PlainText);  // it names tables read from the file
  m_pPageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_pPageLabel->setWordWrap(true);
  m_pPageLabel->setObjectName(QStringLiteral("pageMapPage"));
  layout->addWidget(m_pPageLabel);
  new QGridLayout(m_pLegend);
  connect(m_pCanvas, &CPageMapCanvas::pageSelected, this,
          [this](qint64 page) { m_pPageLabel->setText(DescribePage(m_picture, page)); });
}

void CPageMapView::SetPicture(const PagePicture& picture) {
  m_picture = picture;
  m_pCanvas->SetPicture(&m_picture);
  m_pPageLabel->setText(m_picture.pages.size() < std::size_t(m_picture.pageCount)
                            ? QStringLiteral("The map shows the first %1 of %2 pages.")
                                  .arg(m_picture.pages.size())
                                  .arg(m_picture.pageCount)
                            : QString());
  FillLegend();
}

void CPageMapView::FillLegend() {
  auto* grid = static_cast<QGridLayout*>(m_pLegend->layout());
  while (QLayoutItem* item = grid->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(2);
  auto swatch = [](const QColor& color) {
    return QStringLiteral(
               "<span style=\"background-color:%1; color:%1\">&#9632;&#9632;</span>&nbsp;")
        .arg(color.name());
  };
  int at = 0;
  auto add = [&](const QString& html, const QString& text) {
    auto* label = new QLabel(html + text.toHtmlEscaped(), m_pLegend);
    label->setObjectName(QStringLiteral("pageMapLegend"));
    label->setProperty("plainText", text);
    grid->addWidget(label, at / 3, at % 3);
    ++at;
  };
  for (int u = 1; u < kPageUseCount; ++u) {
    const PageUse use = static_cast<PageUse>(u);
    if (m_picture.Count(use) == 0 && use != PageUse::Table && use != PageUse::Unreadable) continue;
    add(swatch(PageUseColor(use)),
        QStringLiteral("%1: %2").arg(PageUseName(use)).arg(m_picture.Count(use)));
  }
  if (m_picture.Count(PageUse::NotClassified) > 0)
    add(swatch(PageUseColor(PageUse::NotClassified)),
        QStringLiteral("%1: %2")
            .arg(PageUseName(PageUse::NotClassified))
            .arg(m_picture.Count(PageUse::NotClassified)));
  if (m_picture.fromCompanions > 0)
    add(QStringLiteral("&#9700;&nbsp;"),
        QStringLiteral("dark corner, read from the write-ahead log or journal: %1")
            .arg(m_picture.fromCompanions));
}

QString CPageMapView::LegendText() const {
  QStringList texts;
  for (const QLabel* label : m_pLegend->findChildren<QLabel*>(QStringLiteral("pageMapLegend")))
    texts << label->property("plainText").toString();
  return texts.join(QLatin1Char('\n'));
}

}  // namespace velmora
