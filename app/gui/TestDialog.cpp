#include "TestDialog.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>

#include "MessageBoxes.h"
#include "ReportFiles.h"

namespace {

constexpr int DEFAULT_CYCLES = 5;
constexpr std::chrono::milliseconds CYCLE_PAUSE{1000};

const char* const RESULT_HEADERS[] = {"OBIS",   "Descrizione",  "Min",
                                      "Max",    "Minimo letto", "Massimo letto",
                                      "Ultimo", "Esito",        "Nota"};

QString ItalianVerdict(const std::string& Verdict) {
  if (Verdict == "PASS") return QStringLiteral("OK");
  if (Verdict == "FAIL") return QStringLiteral("FUORI LIMITE");
  return QStringLiteral("NON LETTO");
}

// The summary line in the window's language: "Superato: 24 voci su 24 entro i
// limiti in 5 cicli" or "Non superato: 1 voce su 24 fuori limite, 2 non lette, in 5 cicli".
QString ItalianSummary(const TCommissioningReport& Report) {
  int failed = 0, notRead = 0;
  for (const TReportRow& row : Report.Rows) {
    failed += row.Verdict == "FAIL";
    notRead += row.Verdict == "NOT READ";
  }
  const int all = static_cast<int>(Report.Rows.size());
  const QString cycles = Report.Cycles == 1 ? QStringLiteral("1 ciclo")
                                            : QStringLiteral("%1 cicli").arg(Report.Cycles);
  if (Report.Passed)
    return QStringLiteral("Superato: %1 voci su %1 entro i limiti in %2").arg(all).arg(cycles);
  QString text = QStringLiteral("Non superato: %1 su %2 fuori limite").arg(failed).arg(all);
  if (notRead > 0) text += QStringLiteral(", %1 non lette,").arg(notRead);
  return text + QStringLiteral(" in %1").arg(cycles);
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
    const TLimitsRunResult result = RunLimitsTest(map, *source, run, test, hooks);
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
  context.LimitsFile = LimitsFile;
  context.Firmware = Result.Firmware;
  context.CyclesFailed = Result.CyclesFailed;
  FReport = MakeCommissioningReport(Test, context);
  ShowReport(*FReport);
  StartButton->setEnabled(true);
  SaveButton->setEnabled(true);
}

void TTestDialog::ShowReport(const TCommissioningReport& Report) {
  SummaryLabel->setText(ItalianSummary(Report));
  SummaryLabel->setStyleSheet(Report.Passed ? QStringLiteral("color: #1b7f2a; font-weight: bold;")
                                            : QStringLiteral("color: #c0121b; font-weight: bold;"));
  ResultGrid->setRowCount(static_cast<int>(Report.Rows.size()));
  for (int r = 0; r < ResultGrid->rowCount(); ++r) {
    const TReportRow& row = Report.Rows[static_cast<std::size_t>(r)];
    const QString cells[] = {
        QString::fromStdString(row.Obis),   QString::fromStdString(row.Description),
        QString::fromStdString(row.Min),    QString::fromStdString(row.Max),
        QString::fromStdString(row.Lowest), QString::fromStdString(row.Highest),
        QString::fromStdString(row.Last),   ItalianVerdict(row.Verdict),
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
