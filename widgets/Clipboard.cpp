#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "QtText.h"

void CopyToClipboard(const std::string& text) {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(ToQString(text));
}

std::string ClipboardText() {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) return FromQString(clipboard->text());
  return {};
}
