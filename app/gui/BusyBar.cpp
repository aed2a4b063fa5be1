#include "BusyBar.h"

#include <QPainter>
#include <QStyleOptionProgressBar>
#include <algorithm>

TBusyBar::TBusyBar(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 100);
  setValue(0);
  setTextVisible(false);
  FTimer.setInterval(STEP_INTERVAL_MS);
  connect(&FTimer, &QTimer::timeout, this, &TBusyBar::Step);
}

void TBusyBar::SetBusy(bool busy) {
  FBusy = busy;
  FStep = 0;
  // The timer runs only while the block is both wanted and on screen.
  if (FBusy && isVisible())
    FTimer.start();
  else
    FTimer.stop();
  update();
}

void TBusyBar::showEvent(QShowEvent* event) {
  QProgressBar::showEvent(event);
  if (FBusy) FTimer.start();
}

void TBusyBar::hideEvent(QHideEvent* event) {
  FTimer.stop();
  QProgressBar::hideEvent(event);
}

void TBusyBar::Step() {
  FStep = (FStep + 1) % STEPS_PER_SWEEP;
  update();
}

// The groove as the style draws an empty bar, then the block as the style
// draws a full one, squeezed into the block's place.
void TBusyBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionProgressBar option;
  initStyleOption(&option);
  option.progress = option.minimum;
  style()->drawControl(QStyle::CE_ProgressBarGroove, &option, &painter, this);
  if (!FBusy) return;
  const QRect inside = style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this);
  const int block = std::max(inside.width() / 4, 1);
  const int travel = inside.width() - block;
  const int left = inside.left() + travel * FStep / (STEPS_PER_SWEEP - 1);
  option.rect = QRect(left, inside.top(), block, inside.height());
  option.progress = option.maximum;
  style()->drawControl(QStyle::CE_ProgressBarContents, &option, &painter, this);
}
