#include "Color.h"

#include <QColor>
#include <QPalette>

bool IsSystemColor(TColor color) {
  return color != clKeep && (static_cast<std::uint32_t>(color) & 0x80000000u) != 0;
}

QColor ToQColor(TColor color, const QPalette& palette) {
  if (color == clKeep) return {};
  if (IsSystemColor(color)) {
    // Only the few system colours a panel can meet are mapped; the rest fall
    // back to the button face, which is what panels default to anyway.
    switch (static_cast<std::uint32_t>(color) & 0xFFu) {
      case 5: return palette.color(QPalette::Base);          // window background
      case 8: return palette.color(QPalette::Text);          // window text
      case 13: return palette.color(QPalette::Highlight);    // selection
      case 14: return palette.color(QPalette::HighlightedText);
      case 17: return palette.color(QPalette::Disabled, QPalette::WindowText);  // grey text
      case 18: return palette.color(QPalette::ButtonText);
      default: return palette.color(QPalette::Button);
    }
  }
  const auto value = static_cast<std::uint32_t>(color);
  return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                static_cast<int>((value >> 16) & 0xFFu));
}
