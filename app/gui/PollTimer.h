#pragma once
// An interval timer whose "enabled" state is the poll state of the window.
// Unlike a bare QTimer, an interval of 0 means "never tick": the timer can be
// enabled (the poll is on) without producing ticks, and a QTimer with a zero
// interval would otherwise fire every time the event loop is idle.

#include <QObject>
#include <QTimer>
#include <functional>

class TPollTimer : public QObject {
  Q_OBJECT
 public:
  explicit TPollTimer(QObject* parent = nullptr);

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);

  // Milliseconds between ticks; 0 or less never ticks.
  int Interval() const { return FInterval; }
  void SetInterval(int milliseconds);

  // Called on every tick, on the thread that owns the timer.
  std::function<void()> OnTimer;

 private:
  void Rearm();

  QTimer FTimer;
  bool FEnabled = false;
  int FInterval = 1000;
};
