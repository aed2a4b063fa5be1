#pragma once
// "Grafico": a live chart of the values of the grid rows the user selected,
// over the last 10 minutes by default (1 minute or 1 hour on request), one
// vertical axis per unit, exported as a PNG picture on request. Only entries
// with numeric values are charted; the window adds a point to each series at
// every cycle the main window finishes. Drawn with QCustomPlot, which keeps
// the paint of a long series cheap by sampling it down to the pixels shown.

#include <QWidget>
#include <chrono>
#include <vector>

#include "TrendHistory.h"

class QComboBox;
class QCPAxis;
class QCPGraph;
class QCustomPlot;
class QPushButton;
class TMessageBoxes;

class TTrendChartWindow : public QWidget {
  Q_OBJECT
 public:
  TTrendChartWindow(const TRegisterMap& Map, const std::vector<std::size_t>& Entries,
                    TMessageBoxes& MessageBoxes, QWidget* parent = nullptr);

  // The values of a finished cycle; Now is the time of its point.
  void AddCycle(std::chrono::system_clock::time_point Now, const TRegisterMap& Map, bool Ok);
  bool ExportPng(const QString& File);

  std::chrono::minutes Span() const { return FSpan; }
  void SetSpan(std::chrono::minutes Span);
  const TTrendHistory& History() const { return FHistory; }
  QCustomPlot* Chart() const { return FPlot; }

  QComboBox* SpanCombo = nullptr;
  QPushButton* ExportButton = nullptr;

 private:
  void Redraw(std::chrono::system_clock::time_point Now);

  TMessageBoxes& FMessageBoxes;
  TTrendHistory FHistory;
  std::chrono::minutes FSpan = TREND_DEFAULT_SPAN;
  QCustomPlot* FPlot = nullptr;
  std::vector<QCPGraph*> FLines;    // one per series of FHistory
  std::vector<QCPAxis*> FUnitAxes;  // one per unit, in FHistory.Units() order
};
