#include "QtText.h"

#include <QLineEdit>
#include <QStringDecoder>
#include <QVariant>

namespace {

// The bytes a field was last given, kept on the field itself so that they
// live and die with it.
const char* const kShownBytes = "orvaneShownBytes";

bool DecodeUtf8(const std::string& bytes, QString& text) {
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return !decoder.hasError();
}

bool FitsLatin1(const QString& text) {
  for (const QChar c : text)
    if (c.unicode() > 0xFF) return false;
  return true;
}

}  // namespace

QString ToQString(const std::string& bytes) {
  QString text;
  if (DecodeUtf8(bytes, text)) return text;
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string FromQString(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

void ShowBytes(QLineEdit* edit, const std::string& bytes) {
  edit->setProperty(kShownBytes, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  edit->setText(ToQString(bytes));
}

std::string EditBytes(const QLineEdit* edit) {
  const QByteArray shown = edit->property(kShownBytes).toByteArray();
  const std::string bytes(shown.constData(), static_cast<std::size_t>(shown.size()));
  const QString text = edit->text();
  QString decoded;
  const bool cameAsUtf8 = DecodeUtf8(bytes, decoded);
  if (!cameAsUtf8) decoded = QString::fromLatin1(shown);
  if (text == decoded) return bytes;
  if (!cameAsUtf8 && FitsLatin1(text)) {
    const QByteArray latin1 = text.toLatin1();
    return std::string(latin1.constData(), static_cast<std::size_t>(latin1.size()));
  }
  return FromQString(text);
}
