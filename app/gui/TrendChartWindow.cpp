#include "TrendChartWindow.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "MessageBoxes.h"

namespace {

struct TSpanChoice {
  const char* Text;
  std::chrono::minutes Span;
};
constexpr TSpanChoice SPANS[] = {
    {"Ultimo minuto", std::chrono::minutes(1)},
    {"Ultimi 10 minuti", std::chrono::minutes(10)},
    {"Ultima ora", std::chrono::minutes(60)},
};

// The lines' colours, taken in turn.
constexpr QRgb LINE_COLOURS[] = {0x209fdf, 0x99ca53, 0xf6a625, 0x6d5fd5, 0xbf593e, 0x38ad6b};

// The time axis counts seconds since the epoch, as QCustomPlot's date-time ticker does.
double Seconds(std::chrono::system_clock::time_point Time) {
  return std::chrono::duration<double>(Time.time_since_epoch()).count();
}

QString AxisTitle(const std::string& Unit) {
  return Unit.empty() ? QStringLiteral("(senza unità)") : QString::fromStdString(Unit);
}

// The first two units take the plot's own left and right axes; more units get
// axes of their own, on the left and right in turn.
QCPAxis* UnitAxis(QCustomPlot& Plot, std::size_t Index) {
  const bool left = Index % 2 == 0;
  QCPAxis* axis = Index == 0 ? Plot.yAxis
                  : Index == 1
                      ? Plot.yAxis2
                      : Plot.axisRect()->addAxis(left ? QCPAxis::atLeft : QCPAxis::atRight);
  axis->setVisible(true);
  axis->setTickLabels(true);
  return axis;
}

}  // namespace

TTrendChartWindow::TTrendChartWindow(const TRegisterMap& Map,
                                     const std::vector<std::size_t>& Entries,
                                     TMessageBoxes& MessageBoxes, QWidget* parent)
    : QWidget(parent, Qt::Window), FMessageBoxes(MessageBoxes), FHistory(Map, Entries) {
  setObjectName(QStringLiteral("TrendChartWindow"));
  setWindowTitle(QStringLiteral("Grafico"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(1100, 520);

  FPlot = new QCustomPlot(this);
  FPlot->setObjectName(QStringLiteral("TrendChartView"));
  auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
  ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
  FPlot->xAxis->setTicker(ticker);
  FPlot->xAxis->setLabel(QStringLiteral("Ora"));
  const std::vector<std::string> units = FHistory.Units();
  for (std::size_t i = 0; i < units.size(); ++i) {
    QCPAxis* axis = UnitAxis(*FPlot, i);
    axis->setLabel(AxisTitle(units[i]));
    FUnitAxes.push_back(axis);
  }
  for (const TTrendSeries& series : FHistory.Series()) {
    const auto unit = std::find(units.begin(), units.end(), series.Unit) - units.begin();
    QCPGraph* line = FPlot->addGraph(FPlot->xAxis, FUnitAxes[static_cast<std::size_t>(unit)]);
    line->setName(QString::fromStdString(series.Name));
    // A one-pixel pen: a wider one makes the painter join every sampled segment,
    // which costs seconds per drawing for an hour of points.
    line->setPen(QPen(QColor(LINE_COLOURS[FLines.size() % std::size(LINE_COLOURS)]), 1));
    FLines.push_back(line);
  }
  // The legend in a row of its own below the plot, its entries side by side.
  FPlot->legend->setVisible(true);
  FPlot->axisRect()->insetLayout()->take(FPlot->legend);
  FPlot->plotLayout()->addElement(1, 0, FPlot->legend);
  FPlot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
  FPlot->legend->setBorderPen(Qt::NoPen);
  FPlot->plotLayout()->setRowStretchFactor(1, 0.001);

  SpanCombo = new QComboBox(this);
  SpanCombo->setObjectName(QStringLiteral("TrendSpanCombo"));
  for (const TSpanChoice& choice : SPANS) SpanCombo->addItem(QString::fromUtf8(choice.Text));
  SpanCombo->setCurrentIndex(1);
  ExportButton = new QPushButton(QStringLiteral("Esporta PNG…"), this);
  ExportButton->setObjectName(QStringLiteral("TrendExportButton"));

  auto* tools = new QHBoxLayout();
  tools->addWidget(new QLabel(QStringLiteral("Intervallo"), this));
  tools->addWidget(SpanCombo);
  tools->addStretch(1);
  tools->addWidget(ExportButton);
  auto* column = new QVBoxLayout(this);
  column->addLayout(tools);
  column->addWidget(FPlot, 1);

  connect(SpanCombo, &QComboBox::activated, this, [this](int index) {
    if (index >= 0 && index < static_cast<int>(std::size(SPANS))) SetSpan(SPANS[index].Span);
  });
  connect(ExportButton, &QPushButton::clicked, this, [this] {
    const QString file =
        QFileDialog::getSaveFileName(this, QStringLiteral("Esporta il grafico"),
                                     QStringLiteral("grafico.png"), QStringLiteral("PNG (*.png)"));
    if (!file.isEmpty()) ExportPng(file);
  });
  Redraw(std::chrono::system_clock::now());
}

void TTrendChartWindow::AddCycle(std::chrono::system_clock::time_point Now, const TRegisterMap& Map,
                                 bool Ok) {
  FHistory.AddCycle(Now, Map, Ok);
  Redraw(Now);
}

void TTrendChartWindow::SetSpan(std::chrono::minutes Span) {
  FSpan = Span;
  for (int i = 0; i < static_cast<int>(std::size(SPANS)); ++i)
    if (SPANS[i].Span == Span) SpanCombo->setCurrentIndex(i);
  Redraw(std::chrono::system_clock::now());
}

// Each line gets the points of the span in one set(); each unit's axis spans
// the values its lines show, a little wider so no point sits on the frame. The
// plot is redrawn once the event loop runs, so cycles that arrive together
// cost one drawing.
void TTrendChartWindow::Redraw(std::chrono::system_clock::time_point Now) {
  const auto from = Now - FSpan;
  const std::vector<std::string> units = FHistory.Units();
  std::vector<std::pair<double, double>> ranges(
      units.size(), {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()});
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    const TTrendSeries& series = FHistory.Series()[i];
    auto& range = ranges[static_cast<std::size_t>(
        std::find(units.begin(), units.end(), series.Unit) - units.begin())];
    QVector<QCPGraphData> points;
    points.reserve(static_cast<qsizetype>(series.Points.size()));
    for (const TTrendPoint& point : series.Points) {
      if (point.Time < from) continue;
      points.append(QCPGraphData(Seconds(point.Time), point.Value));
      range.first = std::min(range.first, point.Value);
      range.second = std::max(range.second, point.Value);
    }
    FLines[i]->data()->set(points, true);  // the history is in time order
  }
  for (std::size_t u = 0; u < FUnitAxes.size(); ++u) {
    auto [low, high] = ranges[u];
    if (low > high) {  // nothing to show yet
      low = 0;
      high = 1;
    }
    const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
    FUnitAxes[u]->setRange(low - margin, high + margin);
  }
  FPlot->xAxis->setRange(Seconds(from), Seconds(Now));
  FPlot->replot(QCustomPlot::rpQueuedReplot);
}

bool TTrendChartWindow::ExportPng(const QString& File) {
  FPlot->replot();  // what a queued redraw has not drawn yet
  if (FPlot->grab().save(File, "PNG")) return true;
  FMessageBoxes.ShowError(this, QStringLiteral("Impossibile esportare il grafico in %1").arg(File));
  return false;
}
