#pragma once
// The "Traffico" panel: every frame the window's two Modbus stacks send and
// receive, newest at the bottom, with pause, clear, copy and save to a text
// file; it keeps the last 10,000 frames. Its status-bar part shows the
// traffic statistics with a reset.
//
// The stacks report frames on their worker threads; the listeners only turn
// each one into an entry and drop it in an inbox. A timer on the GUI thread
// takes the inbox in batches, so a busy line costs one model update every
// tick instead of one per frame.

#include <QDockWidget>
#include <memory>
#include <vector>

#include "FrameHook.h"
#include "TrafficInbox.h"
#include "TrafficStatistics.h"

class QTimer;
class QToolButton;
class QTreeView;
class TMessageBoxes;
class TStatusText;
class TTrafficModel;

class TTrafficDock : public QDockWidget {
  Q_OBJECT
 public:
  TTrafficDock(TMessageBoxes& MessageBoxes, QWidget* parent = nullptr);
  // Stops listening to every hook first.
  ~TTrafficDock() override;

  // Listens to Hook until the dock is destroyed; Hook must outlive the dock.
  void Listen(TFrameHook& Hook);
  // Takes what the inbox holds now (the timer does this every tick).
  void TakeArrivals();

  // Holds the list still; frames arriving meanwhile are shown on resume
  // (the newest 10,000 of them). The statistics go on counting.
  void SetPaused(bool Paused);
  bool Paused() const { return FPaused; }
  void Clear();
  // The selected rows (all rows when none is selected) as text lines.
  QString SelectedText() const;
  void CopySelection() const;
  // Every row as a text line to File, each time with its date; a failure is
  // shown in a message box.
  bool SaveTo(const QString& File);
  void SaveAs();

  const TTrafficStatistics& Statistics() const { return FStatistics; }
  void ResetStatistics();
  // The statistics line and its reset button, for the window's status bar.
  QWidget* StatusWidget() const { return FStatusWidget; }

  const TTrafficModel& Model() const { return *FModel; }
  QTreeView* View() const { return FView; }
  QToolButton* PauseButton = nullptr;
  QToolButton* ClearButton = nullptr;
  QToolButton* CopyButton = nullptr;
  QToolButton* SaveButton = nullptr;
  TStatusText* StatisticsLabel = nullptr;
  QToolButton* ResetButton = nullptr;

  // Milliseconds between two looks at the inbox.
  static constexpr int TICK_MS = 250;

 private:
  void ShowStatistics();

  TMessageBoxes& FMessageBoxes;
  std::shared_ptr<TTrafficInbox> FInbox = std::make_shared<TTrafficInbox>();
  std::vector<std::pair<TFrameHook*, TFrameHook::TToken>> FListening;
  TTrafficModel* FModel = nullptr;
  QTreeView* FView = nullptr;
  QTimer* FTimer = nullptr;
  QWidget* FStatusWidget = nullptr;
  TTrafficStatistics FStatistics;
  bool FPaused = false;
  bool FFollowing = true;            // the view shows the newest frame and keeps it in sight
  std::vector<TTrafficEntry> FHeld;  // arrived while paused
};
