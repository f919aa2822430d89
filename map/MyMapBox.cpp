#include "MyMapBox.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>

#include "TilePng.h"
#include "widgets/QtText.h"

static void InitMapResources() { Q_INIT_RESOURCE(map); }

namespace {

// Rounded to the nearest integer, halves to even (the default rounding mode),
// and kept within int so that far-away points cannot overflow.
int RoundToInt(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<int>(std::clamp(std::nearbyint(value), static_cast<double>(INT_MIN / 2), static_cast<double>(INT_MAX / 2)));
}

int TruncHalf(int value) { return value / 2; }

// A one-pixel frame round `area` (its last row and column included), drawn
// as four fills: the raster engine strokes a rectangle outline far slower.
void DrawOutline(QPainter& painter, const QRect& area, const QColor& color) {
  painter.fillRect(QRect(area.left(), area.top(), area.width(), 1), color);
  painter.fillRect(QRect(area.left(), area.bottom(), area.width(), 1), color);
  painter.fillRect(QRect(area.left(), area.top(), 1, area.height()), color);
  painter.fillRect(QRect(area.right(), area.top(), 1, area.height()), color);
}

// A square filled with `fill` and framed in black, as the canvas draws a rectangle.
void DrawSquare(QPainter& painter, const QRect& area, const QColor& fill) {
  painter.fillRect(area, fill);
  DrawOutline(painter, area, Qt::black);
}

}  // namespace

TMapBox::TMapBox(QWidget* parent, TMapTileProviderOptions tileOptions)
    : QWidget(parent), m_tileOptions(std::move(tileOptions)) {
  InitMapResources();
  resize(kMinShownSize, kMinShownSize);
  setCursor(Qt::CrossCursor);
  setMouseTracking(true);
  // Every pixel is painted by us.
  setAttribute(Qt::WA_OpaquePaintEvent);
  QFile logo(QStringLiteral(":/QelLogoPNG"));
  if (logo.open(QIODevice::ReadOnly)) {
    const QByteArray bytes = logo.readAll();
    m_logo = DecodePng(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
  OnMouseUp = [](TMapBox& map, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { map.EndDrag(); };
  CreateProvider(std::string());
  ComputeView();
}

TMapBox::~TMapBox() = default;

void TMapBox::CreateProvider(const std::string& baseUrl) {
  m_provider.reset();
  m_provider = std::make_unique<TMapTileProvider>(baseUrl, m_tileOptions);
  m_provider->OnTileLoaded = [this] { update(); };
}

// --- properties ---

void TMapBox::SetLocationStyle(TMapLocationStyle style) {
  m_locationStyle = style;
  if (!m_points.empty()) update();
}

void TMapBox::SetCursorColor(TColor color) {
  m_cursorColor = color;
  if (!m_points.empty()) Refresh(true);
}

void TMapBox::SetPointsColor(TColor color) {
  m_pointsColor = color;
  if (m_points.size() >= 2) Refresh(true);
}

void TMapBox::SetLineColor(TColor color) {
  m_lineColor = color;
  if (m_points.size() >= 2 && m_lineVisible) Refresh(true);
}

void TMapBox::SetLineVisible(bool visible) {
  m_lineVisible = visible;
  if (m_points.size() >= 2) Refresh(true);
}

void TMapBox::SetShowBorder(bool show) {
  m_showBorder = show;
  update();
}

void TMapBox::SetZoomLevel(int zoom) {
  m_zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
  ComputeView();
  Refresh(true);
}

void TMapBox::SetMapCenterType(TMapCenterType type) {
  m_centerType = type;
  Refresh(false);
}

void TMapBox::SetMapAttribution(const std::string& text) {
  m_attribution = text;
  update();
}

QString TMapBox::TileCredit() const {
  if (!m_attribution.empty()) return QString::fromStdString(m_attribution);
  if (m_provider->BaseURL() == kDefaultTileServer) return QString::fromUtf8(kDefaultTileCredit);
  return {};
}

void TMapBox::SetMapAlternateURL(const std::string& url) {
  m_alternateUrl = url;
  if (TMapTileProvider::NormalizedBaseURL(url) == m_provider->BaseURL()) return;
  CreateProvider(url);
  update();
}

// --- points ---

void TMapBox::GetPoint(int index, double& latitude, double& longitude) const {
  latitude = 0;
  longitude = 0;
  if (index < 0 || index >= PointCount()) return;
  ParsePointText(m_points[static_cast<std::size_t>(index)], latitude, longitude);
}

void TMapBox::AddPoint(bool redraw, double latitude, double longitude) {
  m_points.push_back(PointText(latitude, longitude));
  if (redraw) Refresh(true);
}

bool TMapBox::SetPoint(int index, bool redraw, double latitude, double longitude) {
  if (index == PointCount()) {
    AddPoint(redraw, latitude, longitude);
    return true;
  }
  if (index < 0 || index > PointCount()) return false;
  std::string text = PointText(latitude, longitude);
  if (text == m_points[static_cast<std::size_t>(index)]) return false;
  m_points[static_cast<std::size_t>(index)] = std::move(text);
  if (redraw) Refresh(true);
  return true;
}

void TMapBox::SetCursorPoint(bool clearOthers, double latitude, double longitude) {
  if (clearOthers && m_points.size() > 1) m_points.clear();
  SetPoint(0, true, latitude, longitude);
}

void TMapBox::ClearPoints(bool redraw) {
  if (m_points.empty()) return;
  m_points.clear();
  if (redraw) Refresh(true);
}

void TMapBox::SetCenter(double latitude, double longitude) {
  if (latitude == m_centerLatitude && longitude == m_centerLongitude) return;
  if (!IsValidPosition(latitude, longitude)) return;
  m_centerLatitude = latitude;
  m_centerLongitude = longitude;
  // The view follows at once, so that a drag's next step converts with it.
  ComputeView();
  update();
}

// --- view ---

void TMapBox::ComputeView() {
  m_centerTileX = TileXOfLongitude(m_centerLongitude, m_zoom);
  m_centerTileY = TileYOfLatitude(m_centerLatitude, m_zoom);
  const int leftPixel = static_cast<int>(std::trunc(m_centerTileX * kTileSize)) - TruncHalf(width());
  const int topPixel = static_cast<int>(std::trunc(m_centerTileY * kTileSize)) - TruncHalf(height());
  const int rightPixel = leftPixel + width() - 1;
  const int bottomPixel = topPixel + height() - 1;
  m_left = leftPixel / double(kTileSize);
  m_top = topPixel / double(kTileSize);
  m_right = rightPixel / double(kTileSize);
  m_bottom = bottomPixel / double(kTileSize);
  m_innerLeft = (leftPixel + width() / 10) / double(kTileSize);
  m_innerRight = (rightPixel - width() / 10) / double(kTileSize);
  m_innerTop = (topPixel + height() / 10) / double(kTileSize);
  m_innerBottom = (bottomPixel - height() / 10) / double(kTileSize);
  m_north = LatitudeOfTileY(m_top, m_zoom);
  m_south = LatitudeOfTileY(m_bottom, m_zoom);
  m_east = LongitudeOfTileX(m_right, m_zoom);
  m_west = LongitudeOfTileX(m_left, m_zoom);
}

double TMapBox::LatitudeOfRow(int y) const { return LatitudeOfTileY(y / double(kTileSize) + m_top, m_zoom); }

double TMapBox::LongitudeOfColumn(int x) const {
  return LongitudeOfTileX(x / double(kTileSize) + m_left, m_zoom);
}

int TMapBox::RowOfLatitude(double latitude) const {
  return RoundToInt(TileYOfLatitude(latitude, m_zoom) * kTileSize) - RoundToInt(std::floor(m_top * kTileSize));
}

int TMapBox::ColumnOfLongitude(double longitude) const {
  return RoundToInt(TileXOfLongitude(longitude, m_zoom) * kTileSize) - RoundToInt(std::floor(m_left * kTileSize));
}

bool TMapBox::CanShow() const { return width() >= kMinShownSize && height() >= kMinShownSize && !isHidden(); }

void TMapBox::Refresh(bool redraw) {
  if (!m_points.empty() && m_centerType != mapCenter_Custom) {
    const int count = m_centerType == mapCenter_AllPoints ? PointCount() : 1;
    double minLatitude = 0, maxLatitude = 0, minLongitude = 0, maxLongitude = 0;
    for (int i = 0; i < count; ++i) {
      double latitude, longitude;
      GetPoint(i, latitude, longitude);
      minLatitude = i == 0 ? latitude : std::min(minLatitude, latitude);
      maxLatitude = i == 0 ? latitude : std::max(maxLatitude, latitude);
      minLongitude = i == 0 ? longitude : std::min(minLongitude, longitude);
      maxLongitude = i == 0 ? longitude : std::max(maxLongitude, longitude);
    }
    if (TileXOfLongitude(minLongitude, m_zoom) < m_innerLeft || TileXOfLongitude(maxLongitude, m_zoom) > m_innerRight ||
        TileYOfLatitude(maxLatitude, m_zoom) < m_innerTop || TileYOfLatitude(minLatitude, m_zoom) > m_innerBottom) {
      const double latitude = m_centerLatitude, longitude = m_centerLongitude;
      SetCenter((minLatitude + maxLatitude) / 2, (minLongitude + maxLongitude) / 2);
      // SetCenter repaints only when it moved; a centre that is no place on
      // the map (a point beyond the poles) leaves it where it was, and the
      // change of points must still be shown.
      if (latitude != m_centerLatitude || longitude != m_centerLongitude) redraw = false;
    }
  }
  if (redraw && CanShow()) update();
}

// --- painting ---

void TMapBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  Paint(painter);
}

void TMapBox::DrawCenteredText(QPainter& painter, const QString& text) {
  const QFontMetrics metrics(painter.font());
  const int x = std::max(0, RoundToInt((width() - metrics.horizontalAdvance(text)) / 2.0));
  const int y = std::max(0, RoundToInt((height() - metrics.height()) / 2.0));
  painter.setPen(Qt::black);
  painter.drawText(x, y + metrics.ascent(), text);
}

void TMapBox::Paint(QPainter& painter) {
  ComputeView();
  if (isHidden()) return;
  painter.setFont(font());
  if (width() < kMinShownSize || height() < kMinShownSize) {
    painter.fillRect(rect(), Qt::white);
    if (m_showBorder) DrawOutline(painter, rect(), Qt::black);
    DrawCenteredText(painter, QStringLiteral("Map too small"));
    return;
  }

  const int tilesPerSide = 1 << m_zoom;
  const int centerColumn = static_cast<int>(std::trunc(m_centerTileX));
  const int centerRow = static_cast<int>(std::trunc(m_centerTileY));
  const int originX = static_cast<int>(std::floor(m_left * kTileSize));
  const int originY = static_cast<int>(std::floor(m_top * kTileSize));
  m_provider->BeginView();
  // The view's tiles. Columns wrap round the world; rows beyond the poles
  // stay white and are never asked for.
  struct ViewTile {
    int i, j, priority;
  };
  std::vector<ViewTile> view;
  for (int i = static_cast<int>(std::floor(m_left)); i < m_right; ++i)
    for (int j = static_cast<int>(std::floor(m_top)); j < m_bottom; ++j)
      view.push_back({i, j, std::abs(i - centerColumn) + std::abs(j - centerRow)});
  // Asked for nearest the centre first: the first new tile starts its
  // download at once, and that one should be the centre's.
  std::stable_sort(view.begin(), view.end(), [](const ViewTile& a, const ViewTile& b) { return a.priority < b.priority; });
  for (const ViewTile& tile : view) {
    const QPoint corner(tile.i * kTileSize - originX, tile.j * kTileSize - originY);
    const QImage* image = nullptr;
    if (tile.j >= 0 && tile.j < tilesPerSide) {
      const int column = ((tile.i % tilesPerSide) + tilesPerSide) % tilesPerSide;
      image = m_provider->GetTile(column, tile.j, static_cast<std::uint8_t>(m_zoom), tile.priority);
    }
    if (image)
      painter.drawImage(corner, *image);
    else
      painter.fillRect(QRect(corner, QSize(kTileSize, kTileSize)), Qt::white);
  }

  if (m_showBorder) DrawOutline(painter, rect(), Qt::black);

  m_creditRect = QRect();
  if (!m_provider->AnyTileLoaded()) {
    DrawCenteredText(painter, QStringLiteral("Map not available"));
    return;
  }
  if (!m_dragging) {
    if (!m_logo.isNull())
      painter.drawImage(width() - m_logo.width() - 4, height() - m_logo.height() - 4, m_logo);
    if (!m_points.empty()) {
      double latitude, longitude;
      GetPoint(0, latitude, longitude);
      const QImage& text = LocationImage(ToQString(LocationText(m_locationStyle, latitude, longitude)), painter.font());
      painter.drawImage(4, height() - text.height() - 4, text);
    }
  }
  if (!m_points.empty()) PaintPoints(painter);
  PaintCredit(painter);
  if (OnDraw) OnDraw(*this);
}

// The tile server's credit, small, on a light band so that it reads on any
// tile: right-aligned just above the logo, or in the top right corner when
// the cursor square would be under it there.
void TMapBox::PaintCredit(QPainter& painter) {
  if (!UpdateCreditImage()) return;
  const int logoHeight = m_logo.isNull() ? 0 : m_logo.height() + 4;
  QRect area(QPoint(width() - m_creditImage.width() - 4, height() - logoHeight - m_creditImage.height() - 4),
             m_creditImage.size());
  if (!m_points.empty()) {
    double latitude, longitude;
    GetPoint(0, latitude, longitude);
    const QRect cursor(ColumnOfLongitude(longitude) - 4, RowOfLatitude(latitude) - 4, 9, 9);
    if (IsValidPosition(latitude, longitude) && area.intersects(cursor)) area.moveTop(4);
  }
  painter.drawImage(area.topLeft(), m_creditImage);
  m_creditRect = area;
}

bool TMapBox::UpdateCreditImage() {
  const QString text = TileCredit();
  if (text.isEmpty()) return false;
  if (text != m_creditText || m_creditImage.isNull()) {
    m_creditText = text;
    QFont font = this->font();
    font.setPixelSize(10);
    const QFontMetrics metrics(font);
    // Opaque, so that every paint copies it rather than blends it.
    m_creditImage = QImage(metrics.horizontalAdvance(text) + 4, metrics.height(), QImage::Format_RGB32);
    m_creditImage.fill(QColor(245, 245, 245));
    QPainter credit(&m_creditImage);
    credit.setFont(font);
    credit.setPen(Qt::black);
    credit.drawText(2, metrics.ascent(), text);
  }
  return true;
}

void TMapBox::PaintPoints(QPainter& painter) {
  struct Spot {
    QPoint at;
    bool valid;
  };
  std::vector<Spot> spots;
  spots.reserve(m_points.size());
  for (int i = 0; i < PointCount(); ++i) {
    double latitude, longitude;
    GetPoint(i, latitude, longitude);
    // A point that is no place on the map is not drawn.
    const bool valid = IsValidPosition(latitude, longitude);
    spots.push_back({valid ? QPoint(ColumnOfLongitude(longitude), RowOfLatitude(latitude)) : QPoint(), valid});
  }
  const QPalette& colors = palette();
  if (m_lineVisible && spots.size() >= 2) {
    painter.setPen(QPen(ToQColor(m_lineColor, colors), 0));
    for (std::size_t i = 1; i < spots.size(); ++i)
      if (spots[i - 1].valid && spots[i].valid) painter.drawLine(spots[i - 1].at, spots[i].at);
  }
  // Framed in the canvas pen (black); each square covers 4 x 4 pixels from
  // (x - 2, y - 2), the cursor 6 x 6 from (x - 3, y - 3), drawn last to stay on top.
  const QColor pointsColor = ToQColor(m_pointsColor, colors);
  for (std::size_t i = spots.size(); i-- > 1;)
    if (spots[i].valid) DrawSquare(painter, QRect(spots[i].at - QPoint(2, 2), QSize(4, 4)), pointsColor);
  if (spots[0].valid) DrawSquare(painter, QRect(spots[0].at - QPoint(3, 3), QSize(6, 6)), ToQColor(m_cursorColor, colors));
}

// The location text drawn once into an image of its own and kept while the
// text and font stay: laying out and rasterising glyphs on every paint costs
// more than drawing all the tiles.
const QImage& TMapBox::LocationImage(const QString& text, const QFont& font) {
  if (text == m_locationText && font == m_locationFont && !m_locationImage.isNull()) return m_locationImage;
  m_locationText = text;
  m_locationFont = font;
  const QFontMetrics metrics(font);
  m_locationImage = QImage(std::max(1, metrics.horizontalAdvance(text)), metrics.height(),
                           QImage::Format_ARGB32_Premultiplied);
  m_locationImage.fill(Qt::transparent);
  QPainter painter(&m_locationImage);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(0, metrics.ascent(), text);
  return m_locationImage;
}

void TMapBox::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ComputeView();
  update();
}

// --- mouse ---

void TMapBox::mousePressEvent(QMouseEvent* event) {
  m_clicked = event->button() == Qt::LeftButton;
  PressAt(event);
}

void TMapBox::PressAt(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  m_anchor = at;
  if (OnMouseDown)
    OnMouseDown(*this, event->button(), event->modifiers(), event->buttons(), LatitudeOfRow(at.y()),
                LongitudeOfColumn(at.x()));
}

void TMapBox::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (event->buttons() == Qt::LeftButton && event->modifiers() == Qt::NoModifier && m_draggable) {
    SetCenter(m_centerLatitude + LatitudeOfRow(m_anchor.y()) - LatitudeOfRow(at.y()),
              m_centerLongitude + LongitudeOfColumn(m_anchor.x()) - LongitudeOfColumn(at.x()));
    m_dragging = true;
    m_anchor = at;
  }
  if (OnMouseMove)
    OnMouseMove(*this, event->modifiers(), event->buttons(), LatitudeOfRow(at.y()), LongitudeOfColumn(at.x()));
}

void TMapBox::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  // A click is a release of the left button over the map after a single
  // press; the release that ends a double click is none. It comes before the
  // mouse-up.
  if (event->button() == Qt::LeftButton && m_clicked) {
    m_clicked = false;
    if (rect().contains(at) && OnClick) OnClick(*this, LatitudeOfRow(at.y()), LongitudeOfColumn(at.x()));
  }
  if (OnMouseUp) OnMouseUp(*this, event->button(), event->modifiers(), at.x(), at.y());
}

// The second press of a double click: the double click (left button only),
// then the press as any other.
void TMapBox::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  m_clicked = false;
  if (event->button() == Qt::LeftButton && OnDblClick)
    OnDblClick(*this, LatitudeOfRow(at.y()), LongitudeOfColumn(at.x()));
  PressAt(event);
}

void TMapBox::EndDrag() {
  if (!m_dragging) return;
  m_dragging = false;
  update();
}

QImage TMapBox::PaintAround(double latitude, double longitude, QSize size) {
  QImage picture(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setFont(font());
  m_pictureHasTiles = false;
  if (IsValidPosition(latitude, longitude)) {
    const int tilesPerSide = 1 << m_zoom;
    // Pixel coordinates of the picture's top left corner in the world at this zoom.
    const double centerX = TileXOfLongitude(longitude, m_zoom) * kTileSize;
    const double centerY = TileYOfLatitude(latitude, m_zoom) * kTileSize;
    const int originX = static_cast<int>(std::floor(centerX)) - picture.width() / 2;
    const int originY = static_cast<int>(std::floor(centerY)) - picture.height() / 2;
    const int firstColumn = static_cast<int>(std::floor(originX / double(kTileSize)));
    const int firstRow = static_cast<int>(std::floor(originY / double(kTileSize)));
    for (int i = firstColumn; i * kTileSize < originX + picture.width(); ++i) {
      for (int j = firstRow; j * kTileSize < originY + picture.height(); ++j) {
        if (j < 0 || j >= tilesPerSide) continue;
        const int column = ((i % tilesPerSide) + tilesPerSide) % tilesPerSide;
        const QImage tile = m_provider->CachedTile(column, j, static_cast<std::uint8_t>(m_zoom));
        if (tile.isNull()) continue;
        painter.drawImage(QPoint(i * kTileSize - originX, j * kTileSize - originY), tile);
        m_pictureHasTiles = true;
      }
    }
    if (m_pictureHasTiles) {
      const QPoint at(RoundToInt(centerX) - originX, RoundToInt(centerY) - originY);
      DrawSquare(painter, QRect(at - QPoint(3, 3), QSize(6, 6)), ToQColor(m_cursorColor, palette()));
      const QString text = ToQString(LocationText(m_locationStyle, latitude, longitude));
      const QFontMetrics metrics(painter.font());
      if (!text.isEmpty()) {
        const QRect box(2, picture.height() - metrics.height() - 6, metrics.horizontalAdvance(text) + 4,
                        metrics.height() + 4);
        painter.fillRect(box, QColor(255, 255, 255, 200));
        painter.setPen(Qt::black);
        painter.drawText(box.left() + 2, box.top() + 2 + metrics.ascent(), text);
      }
      // A picture of the tiles carries their credit as the map does.
      if (UpdateCreditImage())
        painter.drawImage(QPoint(picture.width() - m_creditImage.width() - 2, 2), m_creditImage);
    }
  }
  if (m_showBorder) DrawOutline(painter, picture.rect(), Qt::black);
  if (!m_pictureHasTiles) {
    const QFontMetrics metrics(painter.font());
    const QString text = QStringLiteral("Map not available");
    painter.setPen(Qt::black);
    painter.drawText((picture.width() - metrics.horizontalAdvance(text)) / 2,
                     (picture.height() - metrics.height()) / 2 + metrics.ascent(), text);
  }
  return picture;
}
