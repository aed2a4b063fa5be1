#pragma once
// "Leggi registri": reads 1 to 125 registers the map need not name (function
// 03 or 04) and shows one row per register: address, hex, unsigned and signed
// 16-bit, and from that register on the 32-bit integer, the float and the
// 64-bit float in the panel's byte sequence. The rows copy to the clipboard
// and export as CSV; "Scrivi registro..." writes a raw 16-bit value.

#include <QString>
#include <vector>

#include "RegisterRows.h"
#include "RegisterToolDialog.h"

class QPushButton;
class QSpinBox;
class QTableWidget;

class TRegisterReadDialog : public TRegisterToolDialog {
  Q_OBJECT
 public:
  TRegisterReadDialog(TToolConnections Connections, QWidget* parent = nullptr);

  QSpinBox* StartSpin = nullptr;
  QSpinBox* CountSpin = nullptr;
  QComboBox* FunctionCombo = nullptr;  // "03 - Holding Registers", "04 - Input Registers"
  QPushButton* ReadButton = nullptr;
  QTableWidget* RowsTable = nullptr;
  QPushButton* CopyButton = nullptr;
  QPushButton* ExportButton = nullptr;
  QPushButton* WriteButton = nullptr;

  void ReadClick();
  // The rows as tab-separated text with a header line, as the clipboard gets them.
  QString RowsText(QChar Separator) const;
  // Writes the rows as CSV; false when the file cannot be written.
  bool ExportTo(const QString& FileName) const;
  void WriteClick();
  // Shows rows read from Start (the worker's result, or a test's).
  void ShowRows(std::uint16_t Start, const std::vector<std::uint16_t>& Words);

 private:
  std::vector<TRegisterRow> FRows;
};
