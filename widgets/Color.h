#pragma once
// Colours as the system stores them: Windows colour values 0x00BBGGRR, or a
// system-colour reference (high bit set, low byte = system colour index).
// They become a QColor only at the widget.
//
// Thread: GUI thread (ToQColor reads a palette).

#include <cstdint>

class QColor;
class QPalette;

using TColor = std::int32_t;

// -1 is not a colour: SwitchOn and StartBlink take it as "keep the colour".
inline constexpr TColor clKeep = -1;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;

// System colour index 15, the button face, as a reference rather than an RGB
// value: it follows the platform palette.
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);

// Whether the value names a system colour rather than an RGB value.
bool IsSystemColor(TColor color);

// The QColor that a TColor stands for. System colours come from the given
// palette (the button face is the palette's button colour); clKeep gives an
// invalid QColor.
QColor ToQColor(TColor color, const QPalette& palette);
