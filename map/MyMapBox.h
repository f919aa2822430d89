#pragma once
// TMapBox: a street map around a centre point with a list of positions drawn
// as small squares (point 0, the cursor, larger and in its own colour), an
// optional track line through them, the cursor's coordinates as text and the
// logo. It moves its centre to keep the points in view, lets the user drag
// the map with the left button, and reports mouse positions as latitude and
// longitude. Tiles come from its own TMapTileProvider.
//
// "Refresh" below means: the centring step, then a repaint. Every position
// is latitude first, then longitude, in degrees.
//
// Until a tile has been loaded the map paints "Map not available"; below
// 104 x 104 pixels it paints only "Map too small" and asks for no tiles.
//
// Thread: GUI thread only.

#include <QFont>
#include <QImage>
#include <QStringList>
#include <QWidget>

class QPainter;
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MapCoordinates.h"
#include "MapTileProvider.h"
#include "widgets/Color.h"

enum TMapCenterType { mapCenter_AllPoints, mapCenter_Cursor, mapCenter_Custom };

class TMapBox : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMinZoom = 5;
  static constexpr int kMaxZoom = 17;
  static constexpr int kMinShownSize = 104;

  // The provider uses the default tile server (see SetMapAlternateURL).
  explicit TMapBox(QWidget* parent = nullptr, TMapTileProviderOptions tileOptions = {});
  ~TMapBox() override;

  // --- properties ---
  TMapLocationStyle LocationStyle() const { return m_locationStyle; }
  void SetLocationStyle(TMapLocationStyle style);      // repaint when there are points
  TColor CursorColor() const { return m_cursorColor; }
  void SetCursorColor(TColor color);                    // refresh when there are points
  TColor PointsColor() const { return m_pointsColor; }
  void SetPointsColor(TColor color);                    // refresh with 2 or more points
  TColor LineColor() const { return m_lineColor; }
  void SetLineColor(TColor color);                      // refresh with 2+ points and the line shown
  bool LineVisible() const { return m_lineVisible; }
  void SetLineVisible(bool visible);                    // refresh with 2 or more points
  bool ShowBorder() const { return m_showBorder; }
  void SetShowBorder(bool show);                        // repaint
  int ZoomLevel() const { return m_zoom; }
  void SetZoomLevel(int zoom);                          // clamped to 5..17; refresh
  TMapCenterType MapCenterType() const { return m_centerType; }
  void SetMapCenterType(TMapCenterType type);           // centring without a forced repaint
  bool Draggable() const { return m_draggable; }
  void SetDraggable(bool draggable) { m_draggable = draggable; }
  // The tile server. A value that is an http:// or https:// URL takes effect
  // at once (a new provider, whose tiles load anew); any other value is kept
  // and the default server serves.
  const std::string& MapAlternateURL() const { return m_alternateUrl; }
  void SetMapAlternateURL(const std::string& url);
  // The credit for the tiles, drawn in a corner of the map: this text when it
  // is not empty, else kDefaultTileCredit while the tiles come from the
  // default server, else none. Repaint.
  const std::string& MapAttribution() const { return m_attribution; }
  void SetMapAttribution(const std::string& text);
  QString TileCredit() const;
  // Where the credit was drawn at the last paint (empty when it was not).
  QRect TileCreditRect() const { return m_creditRect; }
  // The options of the provider that SetMapAlternateURL creates.
  void SetTileOptions(TMapTileProviderOptions options) { m_tileOptions = std::move(options); }

  // Edges of the last paint: latitude of the top and bottom pixel rows,
  // longitude of the right and left pixel columns.
  double MapNorth() const { return m_north; }
  double MapSouth() const { return m_south; }
  double MapEast() const { return m_east; }
  double MapWest() const { return m_west; }

  double CenterLatitude() const { return m_centerLatitude; }
  double CenterLongitude() const { return m_centerLongitude; }
  TMapTileProvider& TileProvider() { return *m_provider; }

  // --- points ---
  int PointCount() const { return static_cast<int>(m_points.size()); }
  // 0, 0 for an index outside the list.
  void GetPoint(int index, double& latitude, double& longitude) const;
  void AddPoint(bool redraw, double latitude, double longitude);
  // Inside the list: false when the point's text is unchanged, else replaced
  // (refresh with redraw) and true. At the end: appended, true. Else false.
  bool SetPoint(int index, bool redraw, double latitude, double longitude);
  // With clearOthers and more than one point the list is emptied first (no
  // repaint); then point 0 is set with redraw.
  void SetCursorPoint(bool clearOthers, double latitude, double longitude);
  void ClearPoints(bool redraw);
  // Ignored unless the position differs and is valid; else stored and repainted.
  void SetCenter(double latitude, double longitude);

  // View conversions with the view of the last paint.
  double LatitudeOfRow(int y) const;
  double LongitudeOfColumn(int x) const;
  int RowOfLatitude(double latitude) const;
  int ColumnOfLongitude(double longitude) const;

  // --- events (latitude, longitude of the mouse) ---
  std::function<void(TMapBox&, Qt::MouseButton, Qt::KeyboardModifiers, Qt::MouseButtons, double, double)> OnMouseDown;
  std::function<void(TMapBox&, Qt::KeyboardModifiers, Qt::MouseButtons, double, double)> OnMouseMove;
  // The plain mouse-up event. It starts out as the map's own drag end; a
  // handler put here replaces that.
  std::function<void(TMapBox&, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseUp;
  std::function<void(TMapBox&, double, double)> OnClick;
  std::function<void(TMapBox&, double, double)> OnDblClick;
  // After every complete paint of the map (tiles loaded).
  std::function<void(TMapBox&)> OnDraw;

  // Paints the map as the widget shows it, onto any painter of the widget's
  // size (the view is computed first, as for every paint).
  void Paint(QPainter& painter);

  // A picture of the map around a position at the map's zoom level, drawn
  // only from the tiles the provider already has (CachedTile): the position's
  // square in the cursor colour and its location text. A tile that is not
  // here stays white; with none at all the picture says "Map not available".
  // The view, the points and the tile requests of the map are left alone.
  QImage PaintAround(double latitude, double longitude, QSize size);
  // True when the last PaintAround found at least one tile.
  bool LastPictureHasTiles() const { return m_pictureHasTiles; }

  // The map's own drag end: clears the dragging flag and repaints.
  void EndDrag();
  bool Dragging() const { return m_dragging; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void PressAt(QMouseEvent* event);
  void CreateProvider(const std::string& baseUrl);
  void Refresh(bool redraw);
  bool CanShow() const;
  void ComputeView();
  void PaintPoints(QPainter& painter);
  void DrawCenteredText(QPainter& painter, const QString& text);
  const QImage& LocationImage(const QString& text, const QFont& font);
  void PaintCredit(QPainter& painter);
  // Renders TileCredit() into m_creditImage when it changed; false when there is none.
  bool UpdateCreditImage();

  TMapLocationStyle m_locationStyle = mapLoc_None;
  TColor m_cursorColor = clWhite;
  TColor m_pointsColor = 0x808080;
  TColor m_lineColor = clBlack;
  bool m_lineVisible = false;
  bool m_showBorder = false;
  int m_zoom = 14;
  TMapCenterType m_centerType = mapCenter_AllPoints;
  bool m_draggable = true;
  std::string m_alternateUrl;
  TMapTileProviderOptions m_tileOptions;

  double m_north = 0, m_south = 0, m_east = 0, m_west = 0;
  double m_centerLatitude = 31.990553;
  double m_centerLongitude = 34.756424;
  std::vector<std::string> m_points;

  // The view of the last paint, in tile units.
  double m_centerTileX = 0, m_centerTileY = 0;
  double m_left = 0, m_right = 0, m_top = 0, m_bottom = 0;
  double m_innerLeft = 0, m_innerRight = 0, m_innerTop = 0, m_innerBottom = 0;

  QPoint m_anchor;
  bool m_dragging = false;
  bool m_clicked = false;  // a left press whose release is a click
  QImage m_logo;
  QString m_locationText;
  QFont m_locationFont;
  QImage m_locationImage;
  std::string m_attribution;
  QString m_creditText;
  QImage m_creditImage;
  QRect m_creditRect;
  std::unique_ptr<TMapTileProvider> m_provider;
  bool m_pictureHasTiles = false;
};
