#include <gtest/gtest.h>

#include "Clipboard.h"
#include "QtText.h"

TEST(QtText, ValidUtf8IsDecodedAndInvalidBytesFallBackToLatin1) {
  EXPECT_EQ(ToQString("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
  // A lone 0xE9 is not UTF-8: every byte must still show as one character.
  const QString latin = ToQString(std::string("caf\xE9", 4));
  EXPECT_EQ(latin.size(), 4);
  EXPECT_EQ(latin.at(3).unicode(), 0xE9);
  EXPECT_EQ(ToQString(std::string("a\0b", 3)).size(), 3);
  EXPECT_EQ(FromQString(QString::fromUtf8("caf\xC3\xA9")), "caf\xC3\xA9");
}

TEST(Clipboard, RoundTripsTextAndEmptyText) {
  CopyToClipboard("QEL123456789012345");
  EXPECT_EQ(ClipboardText(), "QEL123456789012345");
  CopyToClipboard("");
  EXPECT_EQ(ClipboardText(), "");
}
