#pragma once
// Byte strings (the system's text) meet Qt's text only at a widget.
//
// Thread: any thread (the edit-field helpers: GUI thread only).

#include <QString>
#include <string>

class QLineEdit;

// UTF-8 when the bytes are valid UTF-8, else Latin-1 (one character per byte),
// so that no byte is ever lost or replaced on the screen.
QString ToQString(const std::string& bytes);

// What the user typed, as the byte string the rest of the system passes on:
// UTF-8, the 8-bit encoding of this platform.
std::string FromQString(const QString& text);

// An edit field showing a value that came as bytes (from the gateway), and the
// bytes its text stands for now. While the user leaves the text alone the
// bytes come back exactly as they came; an edited text keeps the code page the
// value came in: Latin-1 for bytes that were not UTF-8 (as long as every
// character still fits in one byte), UTF-8 otherwise. A field never given
// bytes (or given none) encodes as FromQString.
void ShowBytes(QLineEdit* edit, const std::string& bytes);
std::string EditBytes(const QLineEdit* edit);
