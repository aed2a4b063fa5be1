#pragma once
// The window's register tools: the "Strumenti" menu with "Leggi registri..."
// and "Orologio del contatore...", and "Scrivi valore..." on a right click on
// a grid row. Each dialog reaches the meter over the TCP or the serial
// panel's settings (see RegisterToolDialog.h for how it shares the line with
// the polls).

#include <QObject>
#include <functional>

class QAction;
class QDialog;
class QMenu;
class QPoint;
class TForm1;
struct TToolConnections;

class TWindowRegisterTools : public QObject {
  Q_OBJECT
 public:
  // Adds the menu and the grid's context menu; Form must outlive it.
  explicit TWindowRegisterTools(TForm1& Form);

  QMenu* Tools1 = nullptr;  // "Strumenti"
  QAction* ReadRegisters1 = nullptr;
  QAction* MeterClock1 = nullptr;

  void ReadRegistersClick();
  void MeterClockClick();
  // "Scrivi valore..." for the map entry of grid row Row (0 = the first entry).
  void WriteValueClick(int Row);

  // Runs a modal dialog; tests replace it to drive the dialog themselves.
  std::function<int(QDialog&)> ExecDialog;

  TToolConnections Connections() const;

 private:
  void GridMenu(const QPoint& At);

  TForm1& FForm;
};
