// The window's views of the wire and its records: the "Traffico" panel with
// the traffic statistics in the status bar, File > "Registra…" for the value
// log and "Grafico" for a live chart of the selected grid rows. Each is a
// class of its own; this file only connects them to the window.

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <algorithm>
#include <chrono>

#include "EntryValues.h"
#include "Form1.h"
#include "IdModBusClient.h"
#include "ModbusConnection.h"
#include "StatusText.h"
#include "TrafficDock.h"
#include "TrendChartWindow.h"
#include "ValueLogger.h"

namespace {

// Runs an operation of a menu item; a failure goes to the window's error report.
template <typename F>
void Reported(TForm1& form, F&& operation) {
  try {
    operation();
  } catch (const std::exception& error) {
    form.ReportError(error);
  }
}

}  // namespace

void TForm1::BuildRecordingViews() {
  TrafficDock = new TTrafficDock(FMessageBoxes, this);
  TrafficDock->Listen(mctPLC->FrameHook());
  TrafficDock->Listen(ModbusConnection1->FrameHook());
  addDockWidget(Qt::BottomDockWidgetArea, TrafficDock);
  TrafficDock->hide();  // until the user shows it; the window remembers the choice
  statusBar()->addPermanentWidget(TrafficDock->StatusWidget());

  Record1 = new QAction(QStringLiteral("&Registra…"), this);
  Record1->setObjectName(QStringLiteral("Record1"));
  File1->insertAction(Exit1, Record1);
  FValueLogger = new TValueLogger(Record1, FMessageBoxes, this);
  statusBar()->addWidget(FValueLogger->StatusLabel(), 1);
  connect(Record1, &QAction::triggered, this,
          [this] { Reported(*this, [this] { FValueLogger->Toggle(FMap); }); });

  View1 = new QMenu(QStringLiteral("&Visualizza"), this);
  View1->setObjectName(QStringLiteral("View1"));
  menuBar()->insertMenu(Help1->menuAction(), View1);
  TrafficDock->toggleViewAction()->setText(QStringLiteral("&Traffico"));
  View1->addAction(TrafficDock->toggleViewAction());
  Chart1 = View1->addAction(QStringLiteral("&Grafico"));
  Chart1->setObjectName(QStringLiteral("Chart1"));
  Chart1->setEnabled(false);
  connect(Chart1, &QAction::triggered, this,
          [this] { Reported(*this, [this] { OpenTrendChart(); }); });

  // Rows are chosen for the chart in the grid, which offers "Grafico" on them.
  MBGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  MBGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  MBGrid->setContextMenuPolicy(Qt::ActionsContextMenu);
  MBGrid->addAction(Chart1);
  connect(MBGrid, &QTableWidget::itemSelectionChanged, this,
          [this] { Chart1->setEnabled(!SelectedNumericEntries().empty()); });
}

std::vector<std::size_t> TForm1::SelectedNumericEntries() const {
  std::vector<std::size_t> entries;
  for (const QModelIndex& index : MBGrid->selectionModel()->selectedRows()) {
    const auto row = static_cast<std::size_t>(index.row());
    if (row < FMap.Regs().size() && HasNumericValue(FMap.Regs()[row].regType))
      entries.push_back(row);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

TTrendChartWindow* TForm1::OpenTrendChart() {
  const std::vector<std::size_t> entries = SelectedNumericEntries();
  if (entries.empty()) return nullptr;
  auto* chart = new TTrendChartWindow(FMap, entries, FMessageBoxes, this);
  connect(this, &TForm1::CycleCompleted, chart,
          [this, chart](bool ok) { chart->AddCycle(std::chrono::system_clock::now(), FMap, ok); });
  chart->show();
  return chart;
}

void TForm1::CycleFinished(const TCycleOutcome& outcome) {
  const QString error = QString::fromStdString(outcome.Ok ? std::string() : FailureText(outcome));
  FValueLogger->CycleDone(FMap, outcome, error);
  emit CycleCompleted(outcome.Ok, error);
}
