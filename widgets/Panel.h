#pragma once
// TPanel: a caption panel with a background colour, a click and a double
// click. The window's value displays (vGWID, vHardware, ...) are plain panels;
// the status lamps (TLedPanel) build on it.
//
// Thread: GUI thread only.

#include <QLabel>
#include <string>

#include "Color.h"

class TPanel : public QLabel {
  Q_OBJECT
  // Streamed from the window resource (stdset="0" properties in the .ui).
  Q_PROPERTY(int Color READ Color WRITE SetColor)
  Q_PROPERTY(int FontColor READ FontColor WRITE SetFontColor)

 public:
  explicit TPanel(QWidget* parent = nullptr);

  // The caption as the system's byte string (shown by ToQString).
  std::string Caption() const;
  virtual void SetCaption(const std::string& caption);

  // Background colour; the button face until set.
  TColor Color() const { return m_color; }
  void SetColor(TColor color);

  // Caption colour; clKeep (the default) leaves the palette's text colour.
  TColor FontColor() const { return m_fontColor; }
  void SetFontColor(TColor color);

 signals:
  void clicked();
  void doubleClicked();

 protected:
  // A release of the left button inside the panel is a click; a lamp hooks in
  // here to act before the click handlers run.
  virtual void Click();

  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void ApplyPalette();

  TColor m_color = clBtnFace;
  TColor m_fontColor = clKeep;
  bool m_pressed = false;
};
