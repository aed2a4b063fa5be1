#pragma once
// "Scrivi valore": writes one value into a map entry (or a raw register) in
// the entry's type and the panel's byte sequence. The dialog shows the
// registers and the frame that will be sent as the value is typed; "Scrivi"
// asks for confirmation in the dialog itself, then writes with function 16
// (06 for one register when chosen) and shows the reply or the exception.

#include <QString>
#include <vector>

#include "RegisterToolDialog.h"
#include "ValueEncoding.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

struct TWriteTarget {
  std::uint16_t Address = 0;
  ERegisterType Type = eWord;
  bool Float32 = false;  // layout of an eDouble entry
  QString Description;
};

// The refusal in the window's words: "Valore fuori intervallo per INT16".
QString RefusalTextIt(EEncodeRefusal Refusal, const QString& TypeName);

class TWriteValueDialog : public TRegisterToolDialog {
  Q_OBJECT
 public:
  TWriteValueDialog(TToolConnections Connections, const TWriteTarget& Target,
                    QWidget* parent = nullptr);

  QLabel* EntryLabel = nullptr;
  QLineEdit* ValueEdit = nullptr;
  QLabel* RegistersLabel = nullptr;
  QLabel* FrameLabel = nullptr;
  QCheckBox* SingleCheck = nullptr;  // "Funzione 06 (un registro)"
  QPushButton* WriteButton = nullptr;

  // The first click asks for confirmation, the second writes.
  void WriteClick();
  bool Confirming() const { return FConfirming; }
  // A write was acknowledged since the dialog opened.
  bool Written() const { return FWritten; }

 private:
  void Refresh();

  TWriteTarget FTarget;
  TEncodedValue FEncoded;
  bool FConfirming = false;
  bool FWritten = false;
};
