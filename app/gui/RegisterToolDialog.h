#pragma once
// What the register tools of the window share: the choice of the panel whose
// connection they use (TCP or serial), a status line, and one exchange at a
// time on a thread of its own, so that a device that does not answer never
// holds the window.
//
// Each exchange opens a connection of its own for its few requests and closes
// it again, as the commissioning tools do: over TCP a second connection beside
// the poll's is what a meter's gateway serves anyway, and the poll's own
// connection is never touched mid-transaction. A serial line cannot be
// opened twice, so a serial exchange is refused while the serial poll runs.

#include <QDialog>
#include <functional>
#include <memory>

#include "CycleWorker.h"
#include "QtMainThread.h"
#include "RegisterSource.h"
#include "RegisterTypes.h"

class QComboBox;
class QLabel;
class QVBoxLayout;

// One panel's connection as the tools use it.
struct TToolConnection {
  std::function<std::unique_ptr<TRegisterSource>()> MakeSource;
  EByteSequence Sequence = BS_1_0_3_2;  // the panel's byte sequence
  std::function<bool()> PollOn;         // the panel's poll is running
  bool Serial = false;
  std::uint8_t Address = 0;  // the unit identifier, or the slave address (shown in frames)
};

struct TToolConnections {
  TToolConnection Tcp;
  TToolConnection Serial;
};

// "Eccezione Server: Indirizzo Illegale" and the window's other failure
// texts come from the sources; this is the line shown for a write's outcome.
QString WriteOutcomeText(const TRegisterWrite& Write);

class TRegisterToolDialog : public QDialog {
  Q_OBJECT
 public:
  TRegisterToolDialog(TToolConnections Connections, const QString& Title, QWidget* parent);
  ~TRegisterToolDialog() override;

  QComboBox* ConnectionCombo = nullptr;  // "TCP", "Seriale"
  QLabel* StatusLabel = nullptr;

  const TToolConnection& Connection() const;
  const TToolConnections& Connections() const { return FConnections; }
  bool Busy() const { return FWorker.Busy(); }

 protected:
  // Runs Job with a new source of the chosen connection on the worker; its
  // continuation then runs on the GUI thread. False (with the reason in the
  // status line) when an exchange is running or the serial poll holds the line.
  bool RunExchange(std::function<TCycleWorker::TContinuation(TRegisterSource&)> Job);
  QVBoxLayout* Body() const { return FBody; }

 private:
  TToolConnections FConnections;
  QVBoxLayout* FBody = nullptr;
  TQtMainThread FResults;
  TCycleWorker FWorker{FResults};
};
