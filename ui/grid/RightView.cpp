#include "ui/grid/RightView.h"

#include <QFontDatabase>
#include <QResizeEvent>
#include <algorithm>

#include "ui/grid/CustomEvents.h"

namespace velmora {

CStatementEdit::CStatementEdit(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName(QStringLiteral("edit401"));
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setTabChangesFocus(true);
  // A file dropped here opens it in the window, not its name in the text.
  setAcceptDrops(false);
  viewport()->setAcceptDrops(false);
}

void CStatementEdit::SetText(const QString& text) {
  QString shown = text;
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  shown.remove(QLatin1Char('\r'));  // CR CR LF: a CR LF statement with its LF doubled
  setPlainText(shown);
}

CSummaryView::CSummaryView(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName(QStringLiteral("summary402"));
  setReadOnly(true);
  // Long lines (a path, a table's losses) wrap at the pane's edge.
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setAcceptDrops(false);
  viewport()->setAcceptDrops(false);
  hide();
}

CRightView::CRightView(QWidget* parent)
    : QWidget(parent),
      m_pGrid(new CListCtrlEx(this)),
      m_pEdit(new CStatementEdit(this)),
      m_pSummaryPane(new QSplitter(Qt::Vertical, this)),
      m_pSummary(new CSummaryView(m_pSummaryPane)),
      m_pPageMap(new CPageMapView(m_pSummaryPane)),
      m_pHint(new QLabel(this)) {
  setObjectName(QStringLiteral("CRightView"));
  m_pSummaryPane->addWidget(m_pSummary);
  m_pSummaryPane->addWidget(m_pPageMap);
  m_pSummaryPane->setChildrenCollapsible(false);
  m_pSummaryPane->setStretchFactor(0, 1);
  m_pSummaryPane->setStretchFactor(1, 1);
  m_pSummary->show();
  m_pSummaryPane->hide();
  m_pHint->setObjectName(QStringLiteral("lossHint"));
  m_pHint->setTextFormat(Qt::PlainText);
  m_pHint->setWordWrap(true);
  m_pHint->setMargin(4);
  m_pHint->setAutoFillBackground(true);
  QPalette hint = m_pHint->palette();
  hint.setColor(QPalette::Window, QColor(255, 244, 206));
  hint.setColor(QPalette::WindowText, QColor(90, 50, 0));
  m_pHint->setPalette(hint);
  m_pHint->hide();
  m_pEdit->setFont(m_pGrid->font());
  m_pGrid->setGeometry(10, 10, 390, 190);
  m_pEdit->setGeometry(10, 10, 90, 90);
}

bool CRightView::event(QEvent* event) {
  // The pane messages: the grid (a QWidget that is the IRecordGrid) and the
  // statement edit.
  switch (int(event->type())) {
    case WMU_GET_LIST_CTRL:
      static_cast<CustomEvent*>(event)->SetResult(static_cast<QWidget*>(m_pGrid));
      return true;
    case WMU_GET_TEXT_CTRL:
      static_cast<CustomEvent*>(event)->SetResult(static_cast<QPlainTextEdit*>(m_pEdit));
      return true;
    default:
      return QWidget::event(event);
  }
}

void CRightView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutChildren();
}

void CRightView::LayoutChildren() {
  QRect all(QPoint(0, 0), size());
  m_pSummaryPane->setGeometry(all);
  if (!m_pHint->isHidden()) {
    const int height = std::min(m_pHint->heightForWidth(all.width()), all.height() / 2);
    m_pHint->setGeometry(0, 0, all.width(), height);
    all.setTop(height);
  }
  m_pGrid->setGeometry(all);
  m_pEdit->setGeometry(all);
}

void CRightView::ShowHint(const QString& text) {
  m_pHint->setText(text);
  m_pHint->setToolTip(QString());
  m_pHint->show();
  LayoutChildren();
}

void CRightView::HideHint() {
  if (m_pHint->isHidden()) return;
  m_pHint->hide();
  LayoutChildren();
}

void CRightView::ShowSummary(const QString& text, const PagePicture* pages) {
  HideHint();
  m_pGrid->hide();
  m_pEdit->hide();
  m_pSummary->setPlainText(text);
  m_pPageMap->setVisible(pages != nullptr);
  if (pages != nullptr) m_pPageMap->SetPicture(*pages);
  m_pSummaryPane->show();
  m_pSummaryPane->raise();
}

void CRightView::HideSummary() { m_pSummaryPane->hide(); }

}  // namespace velmora
