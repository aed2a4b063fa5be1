#pragma once
// A line of text in the status bar that changes often (the traffic
// statistics, several times a second). It paints its text itself: a QLabel
// whose text changes at that pace makes the process grow by a few KiB per
// change (seen with Qt 6.4 on the benchmark of the traffic panel), while
// painting the same text does not.

#include <QWidget>

class TStatusText : public QWidget {
  Q_OBJECT
 public:
  explicit TStatusText(QWidget* parent = nullptr);

  QString text() const { return FText; }
  void setText(const QString& Text);
  // An elided text gives way to its neighbours in the status bar: it shows
  // what fits, with "…" in the middle, and the whole text in its tooltip.
  // A text that is not elided is always shown whole.
  void SetElided(bool Elided);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString FText;
  int FWidth = 0;  // the widest text so far, so the bar does not reflow as digits change
  bool FElided = false;
};
