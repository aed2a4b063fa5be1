#include "StatusText.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {
constexpr int MARGIN = 4;
}

TStatusText::TStatusText(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TStatusText::setText(const QString& Text) {
  if (Text == FText) return;
  FText = Text;
  const int width = fontMetrics().horizontalAdvance(FText) + 2 * MARGIN;
  if (width > FWidth) {
    FWidth = width;
    updateGeometry();
  }
  update();
}

QSize TStatusText::sizeHint() const {
  return {FWidth, fontMetrics().height() + MARGIN};
}

void TStatusText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  style()->drawItemText(&painter, rect().adjusted(MARGIN, 0, -MARGIN, 0),
                        Qt::AlignLeft | Qt::AlignVCenter, option.palette, isEnabled(), FText,
                        QPalette::WindowText);
}
