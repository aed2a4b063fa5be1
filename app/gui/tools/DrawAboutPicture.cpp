// Draws the about box's background picture: a stylised electricity meter on
// the left of a white 456 x 296 canvas, light enough for grey text on top.
// Usage: DrawAboutPicture OUTPUT.png   (run with QT_QPA_PLATFORM=offscreen)

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

namespace {

void DrawBackdrop(QPainter& p) {
  p.fillRect(0, 0, 456, 296, Qt::white);
  // Faint sine waves, the voltage and current of one phase.
  for (int wave = 0; wave < 2; ++wave) {
    QPainterPath path;
    for (int x = 0; x <= 456; ++x) {
      const double y = 250 + (wave == 0 ? 18.0 : 10.0) * std::sin((x + wave * 30) / 30.0);
      if (x == 0)
        path.moveTo(x, y);
      else
        path.lineTo(x, y);
    }
    p.setPen(QPen(wave == 0 ? QColor(200, 220, 240) : QColor(240, 215, 200), 2));
    p.drawPath(path);
  }
}

void DrawMeter(QPainter& p) {
  // Housing.
  QLinearGradient body(20, 20, 150, 220);
  body.setColorAt(0, QColor(236, 240, 245));
  body.setColorAt(1, QColor(196, 205, 216));
  p.setPen(QPen(QColor(120, 132, 148), 2));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(22, 18, 128, 200), 14, 14);

  // Display window with a reading.
  p.setBrush(QColor(46, 64, 52));
  p.setPen(QPen(QColor(90, 100, 110), 1.5));
  p.drawRoundedRect(QRectF(34, 38, 104, 36), 4, 4);
  QFont digits(QStringLiteral("DejaVu Sans Mono"));
  digits.setPixelSize(20);
  digits.setBold(true);
  p.setFont(digits);
  p.setPen(QColor(150, 240, 160));
  p.drawText(QRectF(34, 38, 104, 36), Qt::AlignCenter, QStringLiteral("0517.3"));

  // Pulse LED and the kWh plate.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(230, 60, 50));
  p.drawEllipse(QPointF(44, 90), 5, 5);
  QFont plate(QStringLiteral("DejaVu Sans"));
  plate.setPixelSize(11);
  plate.setBold(true);
  p.setFont(plate);
  p.setPen(QColor(70, 80, 95));
  p.drawText(QRectF(56, 82, 80, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("kWh  3~"));

  // Three phase bars.
  const QColor phases[] = {QColor(150, 110, 60), QColor(60, 60, 60), QColor(130, 130, 130)};
  for (int i = 0; i < 3; ++i) {
    p.setBrush(phases[i]);
    p.drawRoundedRect(QRectF(40 + i * 34, 108, 24, 8), 2, 2);
  }

  // Optical port and the terminal block cover.
  p.setBrush(QColor(60, 70, 85));
  p.drawEllipse(QPointF(86, 146), 12, 12);
  p.setBrush(QColor(220, 226, 233));
  p.drawEllipse(QPointF(86, 146), 5, 5);
  p.setBrush(QColor(170, 180, 192));
  p.setPen(QPen(QColor(120, 132, 148), 1.5));
  p.drawRoundedRect(QRectF(30, 176, 112, 34), 6, 6);
  p.setPen(QPen(QColor(120, 132, 148), 1));
  for (int i = 0; i < 6; ++i) p.drawLine(QPointF(44 + i * 17, 182), QPointF(44 + i * 17, 204));
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: DrawAboutPicture OUTPUT.png\n");
    return 2;
  }
  QImage image(456, 296, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawBackdrop(painter);
  DrawMeter(painter);
  painter.end();
  if (!image.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
