#include "Appimages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace {

const QColor kInk(40, 40, 40);
const QColor kGreen(20, 150, 40);
const QColor kRed(200, 30, 30);
const QColor kBlue(30, 90, 200);

QPen Pen(const QColor& c, double width = 1.4) {
  return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// An arc of a circle round (8, 8) with an arrow head at its end; clockwise
// when cw (on the screen).
void TurnArrow(QPainter& p, bool cw) {
  p.setPen(Pen(kBlue, 1.6));
  p.setBrush(Qt::NoBrush);
  const QRectF box(3, 3, 10, 10);
  const int start = cw ? 150 : 30;
  const int span = cw ? -240 : 240;
  p.drawArc(box, start * 16, span * 16);
  const double end = (start + span) * M_PI / 180.0;
  const QPointF tip(8 + 5 * std::cos(end), 8 - 5 * std::sin(end));
  // Tangent of the arc at its end, in the drawing direction.
  const double sign = cw ? -1.0 : 1.0;
  const QPointF dir(-std::sin(end) * sign, -std::cos(end) * sign);
  const QPointF normal(-dir.y(), dir.x());
  QPolygonF head;
  head << tip + dir * 2.5 << tip - dir * 1.0 + normal * 2.2 << tip - dir * 1.0 - normal * 2.2;
  p.setBrush(kBlue);
  p.setPen(Qt::NoPen);
  p.drawPolygon(head);
}

void NoEntryBar(QPainter& p) {
  p.setPen(Pen(kRed, 1.8));
  p.drawLine(QPointF(2.5, 13.5), QPointF(13.5, 2.5));
}

void Plug(QPainter& p, double x, bool left, const QColor& c) {
  p.setPen(Pen(c));
  p.setBrush(c.lighter(150));
  p.drawRoundedRect(QRectF(x, 5, 4, 6), 1, 1);
  if (left) {
    p.drawLine(QPointF(x + 4, 6.5), QPointF(x + 6, 6.5));
    p.drawLine(QPointF(x + 4, 9.5), QPointF(x + 6, 9.5));
    p.drawLine(QPointF(0.5, 8), QPointF(x, 8));
  } else {
    p.drawLine(QPointF(x + 4, 8), QPointF(15.5, 8));
  }
}

// A sheet of paper with a folded corner.
void Sheet(QPainter& p) {
  QPolygonF sheet;
  sheet << QPointF(2.5, 1.5) << QPointF(8.5, 1.5) << QPointF(11.5, 4.5) << QPointF(11.5, 14.5)
        << QPointF(2.5, 14.5);
  p.setPen(Pen(kInk, 1));
  p.setBrush(Qt::white);
  p.drawPolygon(sheet);
  p.drawLine(QPointF(8.5, 1.5), QPointF(8.5, 4.5));
  p.drawLine(QPointF(8.5, 4.5), QPointF(11.5, 4.5));
}

// A filled arrow head at tip, pointing along (dx, dy) (a unit vector).
void ArrowHead(QPainter& p, QPointF tip, double dx, double dy, const QColor& c) {
  const QPointF dir(dx, dy), normal(-dy, dx);
  QPolygonF head;
  head << tip << tip - dir * 3.5 + normal * 3 << tip - dir * 3.5 - normal * 3;
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPolygon(head);
}

// A drive unit: a box with a small display.
void DriveBox(QPainter& p, double x) {
  p.setPen(Pen(kInk, 1));
  p.setBrush(QColor(200, 200, 210));
  p.drawRect(QRectF(x, 2.5, 6, 11));
  p.setBrush(QColor(20, 60, 30));
  p.drawRect(QRectF(x + 1.5, 4, 3, 2));
}

void Draw(QPainter& p, TAppImage image) {
  switch (image) {
    case TAppImage::Exit:
      p.setPen(Pen(kInk));
      p.setBrush(QColor(190, 140, 90));
      p.drawRect(QRectF(2.5, 1.5, 7, 13));
      p.setPen(Pen(kRed, 1.6));
      p.drawLine(QPointF(7, 8), QPointF(14.5, 8));
      p.drawLine(QPointF(11.5, 5), QPointF(14.5, 8));
      p.drawLine(QPointF(11.5, 11), QPointF(14.5, 8));
      break;
    case TAppImage::Port: {
      QPolygonF shell;
      shell << QPointF(1.5, 4.5) << QPointF(14.5, 4.5) << QPointF(12.5, 11.5) << QPointF(3.5, 11.5);
      p.setPen(Pen(kInk));
      p.setBrush(QColor(200, 200, 210));
      p.drawPolygon(shell);
      p.setPen(Qt::NoPen);
      p.setBrush(kInk);
      for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(4 + 2 * i, 7), 0.7, 0.7);
      for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(5 + 2 * i, 9.3), 0.7, 0.7);
      break;
    }
    case TAppImage::SlaveAddr:
      p.setPen(Pen(kInk, 1.5));
      p.drawLine(QPointF(6, 2), QPointF(4.5, 14));
      p.drawLine(QPointF(11.5, 2), QPointF(10, 14));
      p.drawLine(QPointF(2, 5.5), QPointF(14, 5.5));
      p.drawLine(QPointF(2, 10.5), QPointF(14, 10.5));
      break;
    case TAppImage::Connect:
      Plug(p, 3.5, true, kGreen);
      Plug(p, 9.5, false, kGreen);
      break;
    case TAppImage::Disconnect:
      Plug(p, 1.5, true, kRed);
      Plug(p, 11, false, kRed);
      break;
    case TAppImage::DriveSetup:
      p.setPen(Pen(kInk));
      for (int i = 0; i < 3; ++i) p.drawLine(QPointF(2, 4 + 4 * i), QPointF(14, 4 + 4 * i));
      p.setBrush(kBlue);
      p.drawRect(QRectF(4, 2.5, 2.5, 3));
      p.drawRect(QRectF(10, 6.5, 2.5, 3));
      p.drawRect(QRectF(6.5, 10.5, 2.5, 3));
      break;
    case TAppImage::Scope: {
      p.setPen(Pen(kInk));
      p.setBrush(QColor(20, 60, 30));
      p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 1.5, 1.5);
      QPainterPath wave;
      wave.moveTo(3, 8);
      for (double x = 3; x <= 13; x += 0.5) wave.lineTo(x, 8 - 3 * std::sin((x - 3) * 0.63));
      p.setPen(Pen(QColor(120, 255, 120), 1.2));
      p.setBrush(Qt::NoBrush);
      p.drawPath(wave);
      break;
    }
    case TAppImage::About:
      p.setPen(Qt::NoPen);
      p.setBrush(kBlue);
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(8, 4.8), 1.1, 1.1);
      p.drawRect(QRectF(7, 6.8, 2, 5.7));
      break;
    case TAppImage::Register: {
      QPolygonF tri;
      tri << QPointF(8, 1.5) << QPointF(15, 14) << QPointF(1, 14);
      p.setPen(Pen(kInk, 1));
      p.setBrush(QColor(250, 200, 30));
      p.drawPolygon(tri);
      p.setPen(Qt::NoPen);
      p.setBrush(kInk);
      p.drawRect(QRectF(7.2, 5.5, 1.6, 4.8));
      p.drawEllipse(QPointF(8, 12), 0.9, 0.9);
      break;
    }
    case TAppImage::Inhibit:
      p.setPen(Pen(kRed, 1.8));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(2, 2, 12, 12));
      p.drawLine(QPointF(4, 12), QPointF(12, 4));
      break;
    case TAppImage::DisableCW:
      TurnArrow(p, true);
      NoEntryBar(p);
      break;
    case TAppImage::DisableCCW:
      TurnArrow(p, false);
      NoEntryBar(p);
      break;
    case TAppImage::Ok:
      p.setPen(Pen(kGreen, 2.2));
      p.drawLine(QPointF(2.5, 8.5), QPointF(6.5, 12.5));
      p.drawLine(QPointF(6.5, 12.5), QPointF(13.5, 3.5));
      break;
    case TAppImage::Cancel:
      p.setPen(Pen(kRed, 2.2));
      p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
      p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
      break;
    case TAppImage::Reload:
      TurnArrow(p, true);
      break;
    case TAppImage::SendToDrive:
    case TAppImage::SaveToDrive:
      DriveBox(p, 9.5);
      p.setPen(Pen(kGreen, 1.8));
      p.drawLine(QPointF(1, 8), QPointF(6, 8));
      ArrowHead(p, QPointF(9, 8), 1, 0, kGreen);
      if (image == TAppImage::SaveToDrive) {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawRect(QRectF(10.5, 9.5, 4, 3));
      }
      break;
    case TAppImage::FromFile:
    case TAppImage::ToFile:
      Sheet(p);
      p.setPen(Pen(kBlue, 1.8));
      if (image == TAppImage::ToFile) {
        p.drawLine(QPointF(15, 10), QPointF(9, 10));
        ArrowHead(p, QPointF(6, 10), -1, 0, kBlue);
      } else {
        p.drawLine(QPointF(7, 10), QPointF(12, 10));
        ArrowHead(p, QPointF(15.5, 10), 1, 0, kBlue);
      }
      break;
    case TAppImage::Print:
      p.setPen(Pen(kInk, 1));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4.5, 1.5, 7, 5));
      p.setBrush(QColor(200, 200, 210));
      p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1, 1);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4.5, 10.5, 7, 4));
      p.setPen(Qt::NoPen);
      p.setBrush(kGreen);
      p.drawEllipse(QPointF(12.5, 8.5), 0.8, 0.8);
      break;
    case TAppImage::Up:
      ArrowHead(p, QPointF(8, 3), 0, -1, kBlue);
      p.setPen(Pen(kBlue, 2));
      p.drawLine(QPointF(8, 6), QPointF(8, 13));
      break;
    case TAppImage::Down:
      ArrowHead(p, QPointF(8, 13), 0, 1, kBlue);
      p.setPen(Pen(kBlue, 2));
      p.drawLine(QPointF(8, 3), QPointF(8, 10));
      break;
  }
}

QPixmap Render(TAppImage image, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  Draw(p, image);
  return pixmap;
}

}  // namespace

QIcon AppIcon(TAppImage image) {
  QIcon icon;
  icon.addPixmap(Render(image, 16));
  icon.addPixmap(Render(image, 32));
  return icon;
}
