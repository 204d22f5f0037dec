// The status-bar controls of the main window and their adapters to the
// engine's small display interfaces (engine/Sinks.h).
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "engine/session/Sinks.h"

namespace velmora {

// The red "Stop" button: red, and dark teal while the pointer is over it or
// it is pressed; white text, no border, the hand cursor.
class CMFCButtonEx : public QPushButton {
  Q_OBJECT
 public:
  explicit CMFCButtonEx(const QString& text, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class StatusTextAdapter : public IStatusText {
 public:
  explicit StatusTextAdapter(QLabel* label) : m_pLabel(label) {}
  void SetVisible(bool visible) override { m_pLabel->setVisible(visible); }
  // The label is at least as wide as it was made and grows to show its
  // whole text.
  void SetText(const QString& text) override;

 private:
  QLabel* m_pLabel;
  int m_nBaseWidth = -1;
  qsizetype m_nLastSize = -1;
};

class ProgressBarAdapter : public IProgressBar {
 public:
  explicit ProgressBarAdapter(QProgressBar* bar) : m_pBar(bar) {}
  void SetVisible(bool visible) override { m_pBar->setVisible(visible); }
  void SetRange(int low, int high) override;
  void SetPos(int pos) override { m_pBar->setValue(pos); }
  void SetBarColor(std::uint32_t rgb) override;

 private:
  QProgressBar* m_pBar;
};

class ControlAdapter : public IControl {
 public:
  explicit ControlAdapter(QWidget* widget) : m_pWidget(widget) {}
  void SetVisible(bool visible) override { m_pWidget->setVisible(visible); }

 private:
  QWidget* m_pWidget;
};

}  // namespace velmora
