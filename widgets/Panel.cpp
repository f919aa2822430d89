#include "Panel.h"

#include <QApplication>
#include <QMouseEvent>

#include "QtText.h"

TPanel::TPanel(QWidget* parent) : QLabel(parent) {
  // Captions are data from the gateway or the cloud; never let Qt guess rich text.
  setTextFormat(Qt::PlainText);
  setAutoFillBackground(true);
  setAlignment(Qt::AlignCenter);
  ApplyPalette();
}

std::string TPanel::Caption() const { return FromQString(text()); }

void TPanel::SetCaption(const std::string& caption) { setText(ToQString(caption)); }

void TPanel::SetColor(TColor color) {
  if (color == m_color) return;
  m_color = color;
  ApplyPalette();
}

void TPanel::SetFontColor(TColor color) {
  if (color == m_fontColor) return;
  m_fontColor = color;
  ApplyPalette();
}

void TPanel::ApplyPalette() {
  // System colours resolve against the application's palette, not our own
  // (which we overwrite here).
  const QPalette system = QApplication::palette(this);
  QPalette own = palette();
  const QColor background = ToQColor(m_color, system);
  const QColor text = m_fontColor == clKeep ? system.color(QPalette::WindowText) : ToQColor(m_fontColor, system);
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    own.setColor(group, QPalette::Window, background);
    // A disabled panel keeps the system's greyed text unless a colour was set.
    if (m_fontColor != clKeep || group != QPalette::Disabled) own.setColor(group, QPalette::WindowText, text);
  }
  setPalette(own);
}

void TPanel::Click() { emit clicked(); }

void TPanel::mousePressEvent(QMouseEvent* event) {
  // Accepting the press makes this panel the mouse grabber, so its release
  // (the click) comes here and not to the parent.
  if (event->button() == Qt::LeftButton) m_pressed = true;
  event->accept();
}

void TPanel::mouseReleaseEvent(QMouseEvent* event) {
  const bool wasPressed = m_pressed;
  m_pressed = false;
  event->accept();
  if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) Click();
}

void TPanel::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}
