#pragma once
// Byte strings (the system's text) meet Qt's text only at a widget.
//
// Thread: any thread.

#include <QString>
#include <string>

// UTF-8 when the bytes are valid UTF-8, else Latin-1 (one character per byte),
// so that no byte is ever lost or replaced on the screen.
QString ToQString(const std::string& bytes);

// What the user typed, as the byte string the rest of the system passes on:
// UTF-8, the 8-bit encoding of this platform.
std::string FromQString(const QString& text);
