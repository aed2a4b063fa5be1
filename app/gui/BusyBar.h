#pragma once
// The window's busy indicator: a block that slides along the bar while a poll
// runs. Qt's own indeterminate progress bar repaints at the screen's rate and
// costs about 11 ms of CPU a second for the whole poll; this one moves in
// steps a few times a second, which the eye still reads as "working".

#include <QProgressBar>
#include <QTimer>

class TBusyBar : public QProgressBar {
  Q_OBJECT
 public:
  // Milliseconds between two steps of the block.
  static constexpr int STEP_INTERVAL_MS = 125;
  // Steps the block takes to cross the bar once.
  static constexpr int STEPS_PER_SWEEP = 16;

  explicit TBusyBar(QWidget* parent = nullptr);

  // Moving (true) or still and empty (false); visibility is the caller's.
  void SetBusy(bool busy);
  bool Busy() const { return FTimer.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Step();

  QTimer FTimer;
  bool FBusy = false;
  int FStep = 0;
};
