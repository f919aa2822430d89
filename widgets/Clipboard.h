#pragma once
// The system clipboard for byte strings.
//
// Thread: GUI thread only (needs the QGuiApplication).

#include <string>

// Puts the text on the clipboard as plain text (shown bytes: see ToQString).
void CopyToClipboard(const std::string& text);

// The clipboard's plain text as a byte string (UTF-8); empty when it holds none.
std::string ClipboardText();
