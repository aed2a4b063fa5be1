#include "TestDialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>

#include "MessageBoxes.h"
#include "MeterClock.h"
#include "ReportFiles.h"
#include "ValueDecoding.h"
#include "WindowSettings.h"

namespace {

constexpr int DEFAULT_CYCLES = 5;
constexpr char SITE_KEY[] = "report/site";
constexpr char TECHNICIAN_KEY[] = "report/technician";
constexpr std::chrono::milliseconds CYCLE_PAUSE{1000};

const char* const RESULT_HEADERS[] = {"OBIS",   "Descrizione",  "Min",
                                      "Max",    "Minimo letto", "Massimo letto",
                                      "Ultimo", "Esito",        "Nota"};

QString ItalianVerdict(const std::string& Verdict) {
  if (Verdict == "PASS") return QStringLiteral("OK");
  if (Verdict == "FAIL") return QStringLiteral("FUORI LIMITE");
  return QStringLiteral("NON LETTO");
}

// A number text of the report ('.' before its decimals) with the user's
// decimal separator, as the grid shows its values.
QString LocalNumber(const std::string& Text) {
  return QString::fromStdString(WithDecimalSeparator(Text, QLocale().decimalPoint().toStdString()));
}

}  // namespace

TTestDialog::TTestDialog(TWindowTestSetup Setup, TMessageBoxes& MessageBoxes, QWidget* parent)
    : QDialog(parent), FSetup(std::move(Setup)), FMessageBoxes(MessageBoxes) {
  setObjectName(QStringLiteral("TestDialog"));
  setWindowTitle(QStringLiteral("Test limiti"));
  auto* column = new QVBoxLayout(this);
  auto* form = new QGridLayout();
  LimitsFileEdit = new QLineEdit(QString::fromStdString(FSetup.LimitsFile), this);
  LimitsFileEdit->setObjectName(QStringLiteral("LimitsFileEdit"));
  BrowseButton = new QPushButton(QStringLiteral("Sfoglia..."), this);
  CyclesSpin = new QSpinBox(this);
  CyclesSpin->setObjectName(QStringLiteral("CyclesSpin"));
  CyclesSpin->setRange(1, 1000);
  CyclesSpin->setValue(DEFAULT_CYCLES);
  StartButton = new QPushButton(QStringLiteral("Avvia"), this);
  StartButton->setObjectName(QStringLiteral("StartButton"));
  form->addWidget(new QLabel(QStringLiteral("File dei limiti"), this), 0, 0);
  form->addWidget(LimitsFileEdit, 0, 1);
  form->addWidget(BrowseButton, 0, 2);
  form->addWidget(new QLabel(QStringLiteral("Cicli"), this), 1, 0);
  form->addWidget(CyclesSpin, 1, 1);
  form->addWidget(StartButton, 1, 2);
  form->addWidget(new QLabel(QStringLiteral("Collegamento"), this), 2, 0);
  form->addWidget(new QLabel(QString::fromStdString(FSetup.Report.Connection), this), 2, 1, 1, 2);
  // Who tested the meter where, for the report; remembered for the next test.
  const std::unique_ptr<QSettings> settings = OpenWindowSettings();
  SiteEdit = new QLineEdit(settings->value(QLatin1String(SITE_KEY)).toString(), this);
  SiteEdit->setObjectName(QStringLiteral("SiteEdit"));
  TechnicianEdit = new QLineEdit(settings->value(QLatin1String(TECHNICIAN_KEY)).toString(), this);
  TechnicianEdit->setObjectName(QStringLiteral("TechnicianEdit"));
  form->addWidget(new QLabel(QStringLiteral("Sito"), this), 3, 0);
  form->addWidget(SiteEdit, 3, 1, 1, 2);
  form->addWidget(new QLabel(QStringLiteral("Tecnico"), this), 4, 0);
  form->addWidget(TechnicianEdit, 4, 1, 1, 2);
  column->addLayout(form);

  SummaryLabel = new QLabel(this);
  SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
  column->addWidget(SummaryLabel);
  ResultGrid = new QTableWidget(0, static_cast<int>(std::size(RESULT_HEADERS)), this);
  ResultGrid->setObjectName(QStringLiteral("ResultGrid"));
  QStringList headers;
  for (const char* header : RESULT_HEADERS) headers << QString::fromUtf8(header);
  ResultGrid->setHorizontalHeaderLabels(headers);
  ResultGrid->verticalHeader()->setVisible(false);
  ResultGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  column->addWidget(ResultGrid, 1);

  auto* buttons = new QHBoxLayout();
  SaveButton = new QPushButton(QStringLiteral("Salva report..."), this);
  SaveButton->setObjectName(QStringLiteral("SaveButton"));
  SaveButton->setEnabled(false);
  CloseButton = new QPushButton(QStringLiteral("Chiudi"), this);
  buttons->addStretch(1);
  buttons->addWidget(SaveButton);
  buttons->addWidget(CloseButton);
  column->addLayout(buttons);
  resize(900, 560);

  connect(StartButton, &QPushButton::clicked, this, [this] { StartClick(); });
  connect(BrowseButton, &QPushButton::clicked, this, [this] { BrowseClick(); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { SaveClick(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { reject(); });
}

TTestDialog::~TTestDialog() {
  *FStop = true;
  if (FThread.joinable()) FThread.join();
}

void TTestDialog::StartClick() {
  if (Running()) return;
  const std::string limitsFile = LimitsFileEdit->text().toStdString();
  const TLimitsFile limits = LoadLimitsFile(limitsFile);
  if (!limits.Ok()) {
    FMessageBoxes.ShowError(this, QString::fromStdString(limits.Error));
    return;
  }
  StartButton->setEnabled(false);
  SaveButton->setEnabled(false);
  const int count = CyclesSpin->value();
  SummaryLabel->setText(QStringLiteral("Ciclo 1 di %1...").arg(count));
  TLimitsRunSettings run = FSetup.Run;
  run.Count = count;
  run.Interval = CYCLE_PAUSE;
  *FStop = false;
  // The thread works on copies; what it reports reaches the dialog as queued
  // calls, which die with the dialog.
  FThread = std::thread([this, run, limits, limitsFile, map = FSetup.Map,
                         makeSource = FSetup.MakeSource, stop = FStop]() mutable {
    const auto source = makeSource();
    TLimitsTest test(limits.Limits, map.Regs());
    TLimitsRunHooks hooks;
    hooks.WaitOrStop = [stop](std::chrono::milliseconds Pause) {
      const auto end = std::chrono::steady_clock::now() + Pause;
      while (!*stop && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return stop->load();
    };
    hooks.OnCycle = [this](int Cycle, const std::string& Error) {
      QMetaObject::invokeMethod(
          this, [this, Cycle, Error] { CycleDone(Cycle, Error); }, Qt::QueuedConnection);
    };
    TLimitsRunResult result = RunLimitsTest(map, *source, run, test, hooks);
    // The report's clock check, when the map has the clock entries.
    if (const auto clock = FindClock(map.Regs(), TMapSettings{run.Float32, run.MeterInstanceIndex}))
      result.Clock = ClockCheckText(ReadMeterClock(*source, *clock, run.ByteSequence), true);
    QMetaObject::invokeMethod(
        this, [this, test, result, limitsFile] { RunDone(test, result, limitsFile); },
        Qt::QueuedConnection);
  });
}

void TTestDialog::CycleDone(int Cycle, const std::string& Error) {
  QString text = QStringLiteral("Ciclo %1 di %2").arg(Cycle).arg(CyclesSpin->value());
  if (!Error.empty()) text += QStringLiteral(": ") + QString::fromStdString(Error);
  SummaryLabel->setText(text);
}

void TTestDialog::RunDone(const TLimitsTest& Test, const TLimitsRunResult& Result,
                          const std::string& LimitsFile) {
  if (FThread.joinable()) FThread.join();
  TReportContext context = FSetup.Report;
  context.Italian = true;
  context.Site = SiteEdit->text().toStdString();
  context.Technician = TechnicianEdit->text().toStdString();
  context.SerialNumber = Result.SerialNumber;
  const std::unique_ptr<QSettings> settings = OpenWindowSettings();
  settings->setValue(QLatin1String(SITE_KEY), SiteEdit->text());
  settings->setValue(QLatin1String(TECHNICIAN_KEY), TechnicianEdit->text());
  context.LimitsFile = LimitsFile;
  context.Firmware = Result.Firmware;
  context.CyclesFailed = Result.CyclesFailed;
  context.Clock = Result.Clock;
  FReport = MakeCommissioningReport(Test, context);
  ShowReport(*FReport);
  StartButton->setEnabled(true);
  SaveButton->setEnabled(true);
}

void TTestDialog::ShowReport(const TCommissioningReport& Report) {
  SummaryLabel->setText(QString::fromStdString(Report.Summary));
  SummaryLabel->setStyleSheet(Report.Passed ? QStringLiteral("color: #1b7f2a; font-weight: bold;")
                                            : QStringLiteral("color: #c0121b; font-weight: bold;"));
  ResultGrid->setRowCount(static_cast<int>(Report.Rows.size()));
  for (int r = 0; r < ResultGrid->rowCount(); ++r) {
    const TReportRow& row = Report.Rows[static_cast<std::size_t>(r)];
    // An entry that was not read says why beside its verdict.
    const QString verdict =
        ItalianVerdict(row.Verdict) +
        (row.Reason.empty() ? QString()
                            : QStringLiteral(": ") + QString::fromStdString(row.Reason));
    const QString cells[] = {QString::fromStdString(row.Obis),
                             QString::fromStdString(row.Description),
                             LocalNumber(row.Min),
                             LocalNumber(row.Max),
                             LocalNumber(row.Lowest),
                             LocalNumber(row.Highest),
                             LocalNumber(row.Last),
                             verdict,
                             QString::fromStdString(row.Note)};
    for (int c = 0; c < ResultGrid->columnCount(); ++c)
      ResultGrid->setItem(r, c, new QTableWidgetItem(cells[c]));
  }
  ResultGrid->resizeColumnsToContents();
}

void TTestDialog::BrowseClick() {
  const QString file =
      QFileDialog::getOpenFileName(this, QStringLiteral("File dei limiti"), LimitsFileEdit->text(),
                                   QStringLiteral("Limiti (*.cfg);;Tutti i file (*)"));
  if (!file.isEmpty()) LimitsFileEdit->setText(file);
}

void TTestDialog::SaveClick() {
  const QString file = QFileDialog::getSaveFileName(
      this, QStringLiteral("Salva report"), QStringLiteral("report.pdf"),
      QStringLiteral("PDF (*.pdf);;HTML (*.html);;JSON (*.json)"));
  if (!file.isEmpty()) SaveReport(file.toStdString());
}

bool TTestDialog::SaveReport(const std::string& FileName) {
  std::string error;
  if (!FReport) {
    error = "no test has run yet";
  } else if (WriteReportFile(*FReport, FileName, error)) {
    return true;
  }
  FMessageBoxes.ShowError(
      this, QStringLiteral("Report non salvato: %1").arg(QString::fromStdString(error)));
  return false;
}
