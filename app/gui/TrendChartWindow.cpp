#include "TrendChartWindow.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
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

qint64 Milliseconds(std::chrono::system_clock::time_point Time) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Time.time_since_epoch()).count();
}

QString AxisTitle(const std::string& Unit) {
  return Unit.empty() ? QStringLiteral("(senza unità)") : QString::fromStdString(Unit);
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

  FChart = new QChart();
  FChart->legend()->setAlignment(Qt::AlignBottom);
  FTimeAxis = new QDateTimeAxis(FChart);
  FTimeAxis->setFormat(QStringLiteral("HH:mm:ss"));
  FTimeAxis->setTitleText(QStringLiteral("Ora"));
  FChart->addAxis(FTimeAxis, Qt::AlignBottom);
  const std::vector<std::string> units = FHistory.Units();
  for (std::size_t i = 0; i < units.size(); ++i) {
    auto* axis = new QValueAxis(FChart);
    axis->setTitleText(AxisTitle(units[i]));
    FChart->addAxis(axis, i % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
    FUnitAxes.push_back(axis);
  }
  for (const TTrendSeries& series : FHistory.Series()) {
    auto* line = new QLineSeries(FChart);
    line->setName(QString::fromStdString(series.Name));
    FChart->addSeries(line);
    line->attachAxis(FTimeAxis);
    const auto unit = std::find(units.begin(), units.end(), series.Unit) - units.begin();
    line->attachAxis(FUnitAxes[static_cast<std::size_t>(unit)]);
    FLines.push_back(line);
  }

  FView = new QChartView(FChart, this);
  FView->setObjectName(QStringLiteral("TrendChartView"));
  FView->setRenderHint(QPainter::Antialiasing);

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
  column->addWidget(FView, 1);

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

// Each line gets the points of the span in one replace(); each unit's axis
// spans the values its lines show, a little wider so no point sits on the frame.
void TTrendChartWindow::Redraw(std::chrono::system_clock::time_point Now) {
  const auto from = Now - FSpan;
  const std::vector<std::string> units = FHistory.Units();
  std::vector<std::pair<double, double>> ranges(
      units.size(), {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()});
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    const TTrendSeries& series = FHistory.Series()[i];
    auto& range = ranges[static_cast<std::size_t>(
        std::find(units.begin(), units.end(), series.Unit) - units.begin())];
    QList<QPointF> points;
    for (const TTrendPoint& point : series.Points) {
      if (point.Time < from) continue;
      points.append(QPointF(static_cast<double>(Milliseconds(point.Time)), point.Value));
      range.first = std::min(range.first, point.Value);
      range.second = std::max(range.second, point.Value);
    }
    FLines[i]->replace(points);
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
  FTimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(Milliseconds(from)),
                      QDateTime::fromMSecsSinceEpoch(Milliseconds(Now)));
}

bool TTrendChartWindow::ExportPng(const QString& File) {
  if (FView->grab().save(File, "PNG")) return true;
  FMessageBoxes.ShowError(this, QStringLiteral("Impossibile esportare il grafico in %1").arg(File));
  return false;
}
