// Draws the status screen's logo "tarnfeld": a red rounded mark with two sweeping lines
// (the activity indicator's motif) and the word "tarnfeld". Drawn at twice its display
// size (240 x 60 for 120 x 30) so it stays sharp on high-density screens.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kov-logo-generator <out.png>\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  QImage image(240, 60, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);

  const QColor red(0xE0, 0x1B, 0x24);
  QPainterPath mark;
  mark.addRoundedRect(QRectF(4, 6, 48, 48), 12, 12);
  painter.fillPath(mark, red);

  QPen sweep(Qt::white);
  sweep.setCapStyle(Qt::RoundCap);
  sweep.setWidthF(5.0);
  painter.setPen(sweep);
  painter.drawLine(QPointF(14, 24), QPointF(42, 24));
  sweep.setColor(QColor(255, 255, 255, 150));
  painter.setPen(sweep);
  painter.drawLine(QPointF(14, 36), QPointF(32, 36));

  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(34);
  font.setWeight(QFont::DemiBold);
  font.setLetterSpacing(QFont::PercentageSpacing, 96);
  painter.setFont(font);
  painter.setPen(QColor(0x2B, 0x2B, 0x2E));
  painter.drawText(QRectF(62, 0, 176, 60), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("tarnfeld"));
  painter.end();

  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
