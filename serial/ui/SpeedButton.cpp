#include "SpeedButton.h"

#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace {
constexpr int kGlyphSize = 16;

void DrawApply(QPainter& painter) {
  painter.setPen(QPen(QColor(0, 128, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath tick;
  tick.moveTo(3, 8.5);
  tick.lineTo(6.5, 12);
  tick.lineTo(13, 4);
  painter.drawPath(tick);
}

void DrawCancel(QPainter& painter) {
  painter.setPen(QPen(QColor(200, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(4, 4, 12, 12);
  painter.drawLine(12, 4, 4, 12);
}

void DrawAdvanced(QPainter& painter) {
  painter.setPen(QPen(QColor(60, 60, 60), 1));
  painter.setBrush(QColor(0, 0, 160));
  for (int row = 0; row < 3; ++row) {
    const int y = 3 + row * 4;
    painter.drawLine(2, y + 1, 14, y + 1);
    painter.drawRect(4 + (row * 4) % 9, y, 3, 2);
  }
}

QIcon GlyphIcon(TGlyph glyph) {
  QPixmap pixmap(kGlyphSize, kGlyphSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (glyph) {
    case TGlyph::Apply: DrawApply(painter); break;
    case TGlyph::Cancel: DrawCancel(painter); break;
    case TGlyph::Advanced: DrawAdvanced(painter); break;
  }
  return QIcon(pixmap);
}
}  // namespace

QToolButton* NewSpeedButton(QWidget* parent, const QString& name, const QString& caption, const QString& hint,
                            TGlyph glyph, const QRect& geometry) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(caption);
  button->setToolTip(hint);
  button->setIcon(GlyphIcon(glyph));
  button->setIconSize(QSize(kGlyphSize, kGlyphSize));
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(true);
  button->setGeometry(geometry);
  return button;
}
