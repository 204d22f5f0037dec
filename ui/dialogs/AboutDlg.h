// CAboutDlg: the About box with the program's picture, version and the three
// links (home page, sales and support mail).
#pragma once

#include <QDialog>
#include <QLabel>
#include <QUrl>
#include <functional>

namespace velmora {

inline constexpr const char* kHomePageAddress = "https://www.velmora-recovery.example/";
inline constexpr const char* kSalesAddress = "sales@velmora-recovery.example";
inline constexpr const char* kSupportAddress = "support@velmora-recovery.example";
inline constexpr const char* kVersionText = "Velmora SQLite Version 23.1";

// Link control ids of the About box.
enum AboutLink : int { kLinkHomePage = 1009, kLinkSales = 1010, kLinkSupport = 1011 };

// The target that link `id` opens (the home page, or "mailto:" + address);
// an empty URL for any other id.
QUrl AboutLinkTarget(int id);

// A text that looks and acts like a hyperlink: underlined, hand cursor,
// activated by a click or by Space/Enter when it has the focus.
class CAboutLink : public QLabel {
  Q_OBJECT
 public:
  CAboutLink(int id, const QString& text, QWidget* parent = nullptr);
  int Id() const { return m_nId; }

 signals:
  void activated(int id);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void SetHot(bool hot);
  int m_nId;
};

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  // `openLink` opens a link target (the frame passes its own opener, so that
  // every address the program opens goes one way); empty: the desktop's
  // handler (QDesktopServices::openUrl).
  explicit CAboutDlg(QWidget* parent = nullptr, std::function<bool(const QUrl& url)> openLink = {});

  CAboutLink* Link(int id) const;
  QLabel* VersionLabel() const { return m_pVersion; }

 public slots:
  void OnLink(int id);

 private:
  CAboutLink* m_pSales = nullptr;     // 1010
  CAboutLink* m_pHomePage = nullptr;  // 1009
  CAboutLink* m_pSupport = nullptr;   // 1011
  QLabel* m_pVersion = nullptr;       // 1008
  std::function<bool(const QUrl& url)> m_openLink;
};

}  // namespace velmora
