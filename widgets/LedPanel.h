#pragma once
// TLedPanel: a panel that works as a status lamp. Its background shows one of
// three colours (on, off, disabled); it can stay lit, blink, or light up for one
// interval after a trigger. The caption is the panel's ordinary caption.
//
// Thread: GUI thread only (owns a QTimer).

#include <QTimer>
#include <cstdint>

#include "Panel.h"

enum TLedType { ltOff, ltOn, ltBlink, ltTrigger };

class TLedPanel : public TPanel {
  Q_OBJECT
  Q_PROPERTY(int ColorOn READ ColorOn WRITE SetColorOn)
  Q_PROPERTY(int ColorOff READ ColorOff WRITE SetColorOff)
  Q_PROPERTY(int ColorDisabled READ ColorDisabled WRITE SetColorDisabled)
  Q_PROPERTY(int Interval READ IntervalInt WRITE SetIntervalInt)
  Q_PROPERTY(bool AutoToggle READ AutoToggle WRITE SetAutoToggle)
  Q_PROPERTY(bool AutoTrigger READ AutoTrigger WRITE SetAutoTrigger)
  Q_PROPERTY(bool ForceRedraw READ ForceRedraw WRITE SetForceRedraw)
  Q_PROPERTY(bool LedOn READ LedOn WRITE SetLedOn)

 public:
  explicit TLedPanel(QWidget* parent = nullptr);

  TLedType LedType() const { return m_ledType; }
  // A new mode, or any trigger (which restarts the lit time), is applied.
  void SetLedType(TLedType type);

  bool LedOn() const { return m_ledType == ltOn; }
  void SetLedOn(bool on) { SetLedType(on ? ltOn : ltOff); }
  bool Blinking() const { return m_ledType == ltBlink; }
  void SetBlinking(bool blinking) { SetLedType(blinking ? ltBlink : ltOff); }

  TColor ColorOn() const { return m_colorOn; }
  void SetColorOn(TColor color);
  TColor ColorOff() const { return m_colorOff; }
  void SetColorOff(TColor color);
  TColor ColorDisabled() const { return m_colorDisabled; }
  void SetColorDisabled(TColor color);

  // The lamp's own enabled flag, kept in step with the widget's. Use this (or
  // setEnabled, which ends up here) to enable or disable the lamp.
  bool Enabled() const { return m_enabled; }
  void SetEnabled(bool enabled);

  std::uint32_t Interval() const { return m_interval; }
  void SetInterval(std::uint32_t milliseconds);

  bool AutoToggle() const { return m_autoToggle; }
  void SetAutoToggle(bool on) { m_autoToggle = on; }
  bool AutoTrigger() const { return m_autoTrigger; }
  void SetAutoTrigger(bool on) { m_autoTrigger = on; }
  bool ForceRedraw() const { return m_forceRedraw; }
  void SetForceRedraw(bool on) { m_forceRedraw = on; }

  // With AutoTrigger, a change from one non-empty caption to another triggers.
  void SetCaption(const std::string& caption) override;

  // clKeep leaves ColorOn as it is.
  void SwitchOn(TColor color = clKeep);
  void SwitchOff();
  // clKeep leaves that colour as it is.
  void StartBlink(TColor colorOn = clKeep, TColor colorOff = clKeep);
  void Trigger();
  void TriggerColor(TColor color);

  // The phase shown (true = ColorOn), and whether the blink/trigger timer runs.
  bool Lit() const { return m_lit; }
  bool IsTimerRunning() const { return m_timer.isActive(); }

 public slots:
  // The timer's tick; public so that tests can step a lamp without waiting.
  void LedTimerTick();

 protected:
  void Click() override;
  void changeEvent(QEvent* event) override;

 private:
  int IntervalInt() const { return static_cast<int>(m_interval); }
  void SetIntervalInt(int milliseconds) { SetInterval(static_cast<std::uint32_t>(milliseconds)); }
  bool OwnEnabled() const;
  void ApplyState();
  void UpdateColor();

  TLedType m_ledType = ltOff;
  TColor m_colorOn = clBtnFace;
  TColor m_colorOff = clBtnFace;
  TColor m_colorDisabled = clBtnFace;
  bool m_enabled = true;
  std::uint32_t m_interval = 500;
  bool m_autoToggle = false;
  bool m_autoTrigger = false;
  bool m_forceRedraw = false;
  bool m_lit = false;
  QTimer m_timer;
};
