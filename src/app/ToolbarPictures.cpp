#include "app/ToolbarPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <cmath>
#include <functional>
#include <map>

namespace {

// Every picture is drawn on a 24 x 24 grid; the icon holds it at 1x and 2x.
using TDraw = std::function<void(QPainter&)>;

const QColor kInk(40, 40, 40);
const QColor kPaper(255, 255, 255);
const QColor kBlue(40, 90, 170);

void page(QPainter& p, const QRectF& r) {
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(kPaper);
  p.drawRect(r);
}

void triangle(QPainter& p, QPointF a, QPointF b, QPointF c) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawPolygon(QPolygonF{a, b, c});
}

void doubleArrow(QPainter& p, QPointF from, QPointF to) {
  p.setPen(QPen(kBlue, 1.6));
  p.drawLine(from, to);
  const QPointF d = (to - from) / std::max(1.0, std::hypot(to.x() - from.x(), to.y() - from.y()));
  const QPointF n(-d.y(), d.x());
  triangle(p, to + d * 1.5, to - d * 3 + n * 3, to - d * 3 - n * 3);
  triangle(p, from - d * 1.5, from + d * 3 + n * 3, from + d * 3 - n * 3);
}

// A bar with a triangle pointing at it (the first or the last page): the
// bar's left edge, the triangle's tip and the x of its base.
void arrowToBar(QPainter& p, double barLeft, double tipX, double baseX) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRect(QRectF(barLeft, 5, 2.5, 14));
  triangle(p, QPointF(tipX, 12), QPointF(baseX, 5), QPointF(baseX, 19));
}

void magnifier(QPainter& p, bool plus) {
  p.setPen(QPen(kInk, 2));
  p.setBrush(kPaper);
  p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
  p.setPen(QPen(kInk, 3.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(15, 15), QPointF(21, 21));
  p.setPen(QPen(kBlue, 2));
  p.drawLine(QPointF(6.5, 10), QPointF(13.5, 10));
  if (plus) p.drawLine(QPointF(10, 6.5), QPointF(10, 13.5));
}

const std::map<QString, TDraw>& pictures() {
  static const std::map<QString, TDraw> all = {
      {"tbOpen",
       [](QPainter& p) {
         p.setPen(QPen(QColor(150, 110, 20), 1.2));
         p.setBrush(QColor(240, 200, 80));
         QPainterPath folder;
         folder.moveTo(2, 6);
         folder.lineTo(9, 6);
         folder.lineTo(11, 8);
         folder.lineTo(20, 8);
         folder.lineTo(20, 19);
         folder.lineTo(2, 19);
         folder.closeSubpath();
         p.drawPath(folder);
         p.setBrush(QColor(252, 225, 120));
         p.drawPolygon(QPolygonF{{5, 11}, {23, 11}, {20, 19}, {2, 19}});
       }},
      {"tbPrint",
       [](QPainter& p) {
         page(p, QRectF(7, 2.5, 10, 7));
         p.setPen(QPen(kInk, 1.2));
         p.setBrush(QColor(170, 170, 170));
         p.drawRoundedRect(QRectF(2.5, 9, 19, 8), 1.5, 1.5);
         page(p, QRectF(6.5, 14, 11, 7.5));
         p.drawLine(QPointF(8.5, 17), QPointF(15.5, 17));
         p.drawLine(QPointF(8.5, 19.5), QPointF(13.5, 19.5));
       }},
      {"tbFitActual",
       [](QPainter& p) {
         page(p, QRectF(4.5, 2.5, 15, 19));
         p.setPen(Qt::NoPen);
         p.setBrush(kBlue);
         p.drawRect(QRectF(8, 7, 8, 10));
       }},
      {"tbFitWidth",
       [](QPainter& p) {
         page(p, QRectF(4.5, 2.5, 15, 19));
         doubleArrow(p, QPointF(7.5, 12), QPointF(16.5, 12));
       }},
      {"tbFitPage",
       [](QPainter& p) {
         page(p, QRectF(4.5, 2.5, 15, 19));
         doubleArrow(p, QPointF(12, 6.5), QPointF(12, 17.5));
       }},
      {"tbRotate",
       [](QPainter& p) {
         p.setPen(QPen(kBlue, 2.2));
         p.setBrush(Qt::NoBrush);
         p.drawArc(QRectF(4, 4, 16, 16), 100 * 16, 290 * 16);
         triangle(p, QPointF(13, 1), QPointF(13, 8.5), QPointF(8, 4.5));
       }},
      {"tbFirstPage", [](QPainter& p) { arrowToBar(p, 5, 8.5, 18); }},
      {"tbPrevPage", [](QPainter& p) { triangle(p, QPointF(7, 12), QPointF(17, 5), QPointF(17, 19)); }},
      {"tbNextPage", [](QPainter& p) { triangle(p, QPointF(17, 12), QPointF(7, 5), QPointF(7, 19)); }},
      {"tbLastPage", [](QPainter& p) { arrowToBar(p, 16.5, 15.5, 6); }},
      {"tbZoomOut", [](QPainter& p) { magnifier(p, false); }},
      {"tbZoomIn", [](QPainter& p) { magnifier(p, true); }},
      {"sbSearchPre", [](QPainter& p) { triangle(p, QPointF(12, 6), QPointF(5, 17), QPointF(19, 17)); }},
      {"sbSearchNext", [](QPainter& p) { triangle(p, QPointF(12, 18), QPointF(5, 7), QPointF(19, 7)); }},
  };
  return all;
}

QPixmap drawn(const TDraw& draw, int scale) {
  QPixmap pixmap(24 * scale, 24 * scale);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(scale, scale);
  draw(p);
  p.end();
  pixmap.setDevicePixelRatio(scale);
  return pixmap;
}

}  // namespace

QIcon ToolbarPicture(const QString& name) {
  const auto it = pictures().find(name);
  if (it == pictures().end()) return {};
  QIcon icon;
  icon.addPixmap(drawn(it->second, 1));
  icon.addPixmap(drawn(it->second, 2));
  return icon;
}
