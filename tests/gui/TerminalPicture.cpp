// Draws the text of a terminal screen (as `tmux capture-pane -p` prints it)
// into a PNG picture of a terminal window, for the README:
//   sim_terminal_picture TITLE OUT.png < screen.txt

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: sim_terminal_picture TITLE OUT.png < screen.txt\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QStringList lines;
  QTextStream in(stdin);
  for (QString line; in.readLineInto(&line);) lines << line;
  while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();

  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setPixelSize(13);
  const QFontMetrics metrics(font);
  int columns = 80;
  for (const QString& line : lines) columns = std::max(columns, static_cast<int>(line.size()));
  const int titleHeight = 26, margin = 10;
  const int width = 2 * margin + metrics.horizontalAdvance(QString(columns, QLatin1Char('M')));
  const int height =
      titleHeight + 2 * margin + metrics.lineSpacing() * static_cast<int>(lines.size());

  QImage picture(width, height, QImage::Format_RGB32);
  picture.fill(QColor(0x1E, 0x1E, 0x1E));
  QPainter painter(&picture);
  painter.fillRect(0, 0, width, titleHeight, QColor(0x3C, 0x3C, 0x3C));
  QFont titleFont(QStringLiteral("DejaVu Sans"));
  titleFont.setPixelSize(12);
  painter.setFont(titleFont);
  painter.setPen(QColor(0xDD, 0xDD, 0xDD));
  painter.drawText(QRect(0, 0, width, titleHeight), Qt::AlignCenter,
                   QString::fromLocal8Bit(argv[1]));
  painter.setFont(font);
  painter.setPen(QColor(0xD8, 0xD8, 0xD8));
  int y = titleHeight + margin + metrics.ascent();
  for (const QString& line : lines) {
    if (line.contains(QStringLiteral("invalid frame"))) painter.setPen(QColor(0xFF, 0x70, 0x60));
    painter.drawText(margin, y, line);
    painter.setPen(QColor(0xD8, 0xD8, 0xD8));
    y += metrics.lineSpacing();
  }
  painter.end();
  return picture.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
