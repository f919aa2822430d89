// Build step: the application icon at the hicolor theme's sizes, made from the
// logo (resources/orvane.png). The logo is a small bitmap of concentric discs;
// sizes up to the logo's own are scaled down from it, larger ones are drawn
// afresh as the same discs (colours and radii read from the logo), so the big
// icons are sharp instead of a blurred enlargement.
//
//   orvane_make_icons <logo.png> <output folder> <name> <size>...
// writes <output folder>/<size>x<size>/apps/<name>.png; exit status 1 on failure.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <vector>

namespace {

struct TDisc {
  double radius;  // as a fraction of half the logo's width
  QColor color;
};

// Walks the middle row from the left edge to the centre; every change of colour
// starts a disc.
std::vector<TDisc> DiscsOf(const QImage& logo) {
  std::vector<TDisc> discs;
  const int y = logo.height() / 2;
  const double half = logo.width() / 2.0;
  QColor current = Qt::transparent;
  for (int x = 0; x < logo.width() / 2; ++x) {
    const QColor color = logo.pixelColor(x, y);
    if (color.alpha() < 128) continue;
    const bool same = discs.size() && std::abs(color.red() - current.red()) + std::abs(color.green() - current.green()) +
                                              std::abs(color.blue() - current.blue()) < 48;
    if (same) continue;
    current = color;
    // The centre pixel of this ring, so edge blending does not pick the colour.
    discs.push_back({(half - x) / half, color});
  }
  // Take each disc's colour one pixel inside its edge, past the antialiasing.
  for (TDisc& disc : discs) {
    const int x = std::min(logo.width() / 2, static_cast<int>(half - disc.radius * half) + 1);
    disc.color = logo.pixelColor(x, y);
    disc.color.setAlpha(255);
  }
  return discs;
}

QImage Drawn(const std::vector<TDisc>& discs, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const QPointF centre(size / 2.0, size / 2.0);
  for (const TDisc& disc : discs) {
    painter.setBrush(disc.color);
    painter.drawEllipse(centre, disc.radius * size / 2.0, disc.radius * size / 2.0);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s <logo.png> <output folder> <name> <size>...\n", argv[0]);
    return 1;
  }
  const QImage logo = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_ARGB32);
  if (logo.isNull()) {
    std::fprintf(stderr, "%s: cannot read the logo %s\n", argv[0], argv[1]);
    return 1;
  }
  const std::vector<TDisc> discs = DiscsOf(logo);
  const QString folder = QString::fromLocal8Bit(argv[2]);
  const QString name = QString::fromLocal8Bit(argv[3]);
  for (int i = 4; i < argc; ++i) {
    const int size = QString::fromLocal8Bit(argv[i]).toInt();
    if (size <= 0) return 1;
    const QImage icon = size <= logo.width() || discs.empty()
                            ? logo.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                            : Drawn(discs, size);
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
    if (!QDir().mkpath(dir) || !icon.save(dir + "/" + name + ".png")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
