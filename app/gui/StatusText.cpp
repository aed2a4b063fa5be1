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
  if (FElided) setToolTip(FText);
  const int width = fontMetrics().horizontalAdvance(FText) + 2 * MARGIN;
  if (width > FWidth) {
    FWidth = width;
    updateGeometry();
  }
  update();
}

void TStatusText::SetElided(bool Elided) {
  FElided = Elided;
  setToolTip(Elided ? FText : QString());
  updateGeometry();
}

QSize TStatusText::sizeHint() const {
  return {FWidth, fontMetrics().height() + MARGIN};
}

QSize TStatusText::minimumSizeHint() const {
  if (!FElided) return sizeHint();
  return {fontMetrics().horizontalAdvance(QStringLiteral("Registr…")) + 2 * MARGIN,
          sizeHint().height()};
}

void TStatusText::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  const QRect room = rect().adjusted(MARGIN, 0, -MARGIN, 0);
  const QString shown =
      FElided ? fontMetrics().elidedText(FText, Qt::ElideMiddle, room.width()) : FText;
  style()->drawItemText(&painter, room, Qt::AlignLeft | Qt::AlignVCenter, option.palette,
                        isEnabled(), shown, QPalette::WindowText);
}
