#include "ui/dialogs/AboutDlg.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>

#include "res/ResourceIds.h"

namespace velmora {
QUrl AboutLinkTarget(int id) {
  switch (id) {
    case kLinkHomePage:
      return QUrl(QString::fromLatin1(kHomePageAddress));
    case kLinkSales:
      return QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kSalesAddress));
    case kLinkSupport:
      return QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress));
    default:
      return {};
  }
}

CAboutLink::CAboutLink(int id, const QString& text, QWidget* parent)
    : QLabel(text, parent), m_nId(id) {
  setObjectName(QStringLiteral("link%1").arg(id));
  setAlignment(Qt::AlignCenter);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  SetHot(false);
}

void CAboutLink::SetHot(bool hot) {
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, hot ? QColor(0xE0, 0x6A, 0x00) : QColor(0x1F, 0x5F, 0xC7));
  setPalette(pal);
}

void CAboutLink::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (rect().contains(event->position().toPoint())) emit activated(m_nId);
}

void CAboutLink::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
      event->key() == Qt::Key_Enter) {
    emit activated(m_nId);
    return;
  }
  QLabel::keyPressEvent(event);
}

void CAboutLink::enterEvent(QEnterEvent* event) {
  SetHot(true);
  QLabel::enterEvent(event);
}

void CAboutLink::leaveEvent(QEvent* event) {
  SetHot(false);
  QLabel::leaveEvent(event);
}

CAboutDlg::CAboutDlg(QWidget* parent, std::function<bool(const QUrl& url)> openLink)
    : QDialog(parent), m_openLink(std::move(openLink)) {
  if (!m_openLink) m_openLink = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  setWindowTitle(QStringLiteral("Velmora SQLite Database Recovery"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFixedSize(kAboutWidth, kAboutHeight);

  auto* picture = new QLabel(this);
  picture->setPixmap(LoadBitmap(IDB_ABOUT_PICTURE));
  picture->setGeometry(0, 0, kAboutWidth, kAboutHeight);

  auto* icon = new QLabel(this);
  icon->setPixmap(LoadIcon(IDR_MAINFRAME).pixmap(48, 48));
  icon->setGeometry((kAboutWidth - 48) / 2, 76, 48, 48);

  m_pVersion = new QLabel(this);
  m_pVersion->setObjectName(QStringLiteral("static1008"));
  m_pVersion->setAlignment(Qt::AlignCenter);
  m_pVersion->setText(QStringLiteral("\t %1\n\t %2")
                          .arg(QString::fromLatin1(kVersionText),
                               QStringLiteral("Copyright \u00A9 2026 Velmora Recovery Software")));
  m_pVersion->setGeometry(20, 132, kAboutWidth - 40, 48);
  QFont versionFont = m_pVersion->font();
  m_pVersion->setFont(versionFont);

  m_pHomePage = new CAboutLink(kLinkHomePage, QString::fromLatin1(kHomePageAddress), this);
  m_pSales = new CAboutLink(kLinkSales, QString::fromLatin1(kSalesAddress), this);
  m_pSupport = new CAboutLink(kLinkSupport, QString::fromLatin1(kSupportAddress), this);
  m_pHomePage->setGeometry(20, 192, kAboutWidth - 40, 18);
  m_pSales->setGeometry(20, 214, kAboutWidth - 40, 18);
  m_pSupport->setGeometry(20, 236, kAboutWidth - 40, 18);
  for (CAboutLink* link : {m_pHomePage, m_pSales, m_pSupport})
    connect(link, &CAboutLink::activated, this, &CAboutDlg::OnLink);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  ok->setGeometry((kAboutWidth - 88) / 2, kAboutHeight - 38, 88, 26);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  ok->setFocus();
}

CAboutLink* CAboutDlg::Link(int id) const {
  switch (id) {
    case kLinkHomePage:
      return m_pHomePage;
    case kLinkSales:
      return m_pSales;
    case kLinkSupport:
      return m_pSupport;
    default:
      return nullptr;
  }
}

void CAboutDlg::OnLink(int id) {
  const QUrl target = AboutLinkTarget(id);
  if (!target.isEmpty()) m_openLink(target);  // the result is not needed
}

}  // namespace velmora
