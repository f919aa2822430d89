#include "LedPanel.h"

#include <QEvent>

TLedPanel::TLedPanel(QWidget* parent) : TPanel(parent) {
  m_timer.setInterval(static_cast<int>(m_interval));
  connect(&m_timer, &QTimer::timeout, this, &TLedPanel::LedTimerTick);
  m_enabled = OwnEnabled();
}

// Qt's enabled state also falls when a parent is disabled; the lamp's flag is
// its own, which Qt keeps as the "force disabled" attribute.
bool TLedPanel::OwnEnabled() const { return !testAttribute(Qt::WA_ForceDisabled); }

void TLedPanel::SetLedType(TLedType type) {
  if (type == m_ledType && type != ltTrigger) return;
  m_ledType = type;
  ApplyState();
}

void TLedPanel::SetColorOn(TColor color) {
  if (color == m_colorOn) return;
  m_colorOn = color;
  UpdateColor();
}

void TLedPanel::SetColorOff(TColor color) {
  if (color == m_colorOff) return;
  m_colorOff = color;
  UpdateColor();
}

void TLedPanel::SetColorDisabled(TColor color) {
  if (color == m_colorDisabled) return;
  m_colorDisabled = color;
  UpdateColor();
}

void TLedPanel::SetEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  // setEnabled comes back through changeEvent, where the flag already agrees.
  setEnabled(enabled);
  ApplyState();
}

void TLedPanel::changeEvent(QEvent* event) {
  TPanel::changeEvent(event);
  // Only the widget's own flag counts: a lamp on a disabled tab keeps its state.
  if (event->type() == QEvent::EnabledChange) {
    const bool enabled = OwnEnabled();
    if (enabled != m_enabled) {
      m_enabled = enabled;
      ApplyState();
    }
  }
}

void TLedPanel::SetInterval(std::uint32_t milliseconds) {
  m_interval = milliseconds;
  m_timer.setInterval(static_cast<int>(milliseconds));
}

void TLedPanel::SetCaption(const std::string& caption) {
  const std::string old = Caption();
  if (caption == old) return;
  TPanel::SetCaption(caption);
  if (m_autoTrigger && !old.empty() && !caption.empty()) Trigger();
}

void TLedPanel::SwitchOn(TColor color) {
  if (color != clKeep) m_colorOn = color;
  m_ledType = ltOn;
  ApplyState();
}

void TLedPanel::SwitchOff() {
  m_ledType = ltOff;
  ApplyState();
}

void TLedPanel::StartBlink(TColor colorOn, TColor colorOff) {
  if (colorOn != clKeep) m_colorOn = colorOn;
  if (colorOff != clKeep) m_colorOff = colorOff;
  SetLedType(ltBlink);
  // SetLedType skips an unchanged mode; the new colours must still show.
  UpdateColor();
}

void TLedPanel::Trigger() {
  m_ledType = ltTrigger;
  ApplyState();
}

void TLedPanel::TriggerColor(TColor color) {
  m_colorOn = color;
  m_ledType = ltTrigger;
  ApplyState();
}

void TLedPanel::ApplyState() {
  m_timer.stop();
  switch (m_ledType) {
    case ltOff: m_lit = false; break;
    case ltOn: m_lit = true; break;
    case ltBlink:
    case ltTrigger:
      m_lit = true;
      // Restarting makes a full interval begin now.
      if (m_enabled) m_timer.start();
      break;
  }
  UpdateColor();
}

void TLedPanel::LedTimerTick() {
  if (m_ledType != ltBlink) m_timer.stop();
  switch (m_ledType) {
    case ltBlink: m_lit = !m_lit; break;
    case ltTrigger:
      m_ledType = ltOff;
      m_lit = false;
      break;
    case ltOff:
    case ltOn: return;
  }
  UpdateColor();
}

void TLedPanel::UpdateColor() {
  const TColor wanted = !m_enabled ? m_colorDisabled : (m_lit ? m_colorOn : m_colorOff);
  if (wanted == Color()) return;
  SetColor(wanted);
  if (m_forceRedraw) repaint();
}

void TLedPanel::Click() {
  if (m_enabled && m_autoToggle) {
    m_ledType = m_ledType == ltOn ? ltOff : ltOn;
    ApplyState();
  }
  TPanel::Click();
}
