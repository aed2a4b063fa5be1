#include "TrafficDock.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "MessageBoxes.h"
#include "StatusText.h"
#include "TrafficModel.h"

namespace {

constexpr int VIEW_MINIMUM_HEIGHT = 110;

QToolButton* MakeButton(QWidget* parent, const char* name, const char* text) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(QString::fromUtf8(text));
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  return button;
}

// A millisecond text with the user's decimal separator.
QString Ms(std::chrono::nanoseconds Time) {
  return QString::fromStdString(MillisecondsText(Time))
      .replace(QLatin1Char('.'), QLocale().decimalPoint());
}

}  // namespace

TTrafficDock::TTrafficDock(TMessageBoxes& MessageBoxes, QWidget* parent)
    : QDockWidget(QStringLiteral("Traffico"), parent), FMessageBoxes(MessageBoxes) {
  setObjectName(QStringLiteral("TrafficDock"));
  setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);

  auto* body = new QWidget(this);
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(4, 2, 4, 4);
  column->setSpacing(2);
  auto* buttons = new QHBoxLayout();
  PauseButton = MakeButton(body, "TrafficPauseButton", "Pausa");
  PauseButton->setCheckable(true);
  ClearButton = MakeButton(body, "TrafficClearButton", "Pulisci");
  CopyButton = MakeButton(body, "TrafficCopyButton", "Copia");
  SaveButton = MakeButton(body, "TrafficSaveButton", "Salva…");
  for (QToolButton* button : {PauseButton, ClearButton, CopyButton, SaveButton})
    buttons->addWidget(button);
  buttons->addStretch(1);
  column->addLayout(buttons);

  FModel = new TTrafficModel(this);
  FView = new QTreeView(body);
  FView->setObjectName(QStringLiteral("TrafficView"));
  FView->setModel(FModel);
  // One height for every row lets the view place 10,000 rows without measuring them.
  FView->setUniformRowHeights(true);
  FView->setRootIsDecorated(false);
  FView->setItemsExpandable(false);
  FView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FView->setSelectionBehavior(QAbstractItemView::SelectRows);
  FView->header()->setStretchLastSection(false);
  FView->header()->setSectionResizeMode(TTrafficModel::tcSummary, QHeaderView::Stretch);
  FView->setColumnWidth(TTrafficModel::tcTime, 90);
  FView->setColumnWidth(TTrafficModel::tcDirection, 30);
  FView->setColumnWidth(TTrafficModel::tcBytes, 360);
  FView->setColumnWidth(TTrafficModel::tcResponse, 80);
  // Room for a few frames however low the window is.
  FView->setMinimumHeight(VIEW_MINIMUM_HEIGHT);
  column->addWidget(FView, 1);
  setWidget(body);
  // The view follows the newest frame until the user scrolls away from it,
  // and again once they scroll back down. Its scroll range changes with new
  // rows and with every resize; a view that follows keeps its last row in
  // sight through both.
  QScrollBar* bar = FView->verticalScrollBar();
  connect(bar, &QScrollBar::valueChanged, this,
          [this, bar](int value) { FFollowing = value == bar->maximum(); });
  connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
    if (FFollowing) bar->setValue(maximum);
  });

  FStatusWidget = new QWidget(this);
  FStatusWidget->setObjectName(QStringLiteral("TrafficStatistics"));
  auto* status = new QHBoxLayout(FStatusWidget);
  status->setContentsMargins(0, 0, 0, 0);
  StatisticsLabel = new TStatusText(FStatusWidget);
  StatisticsLabel->setObjectName(QStringLiteral("TrafficStatisticsLabel"));
  ResetButton = MakeButton(FStatusWidget, "TrafficResetButton", "Azzera");
  ResetButton->setToolTip(QStringLiteral("Azzera le statistiche del traffico"));
  status->addWidget(StatisticsLabel);
  status->addWidget(ResetButton);
  ShowStatistics();

  connect(PauseButton, &QToolButton::toggled, this, [this](bool on) { SetPaused(on); });
  connect(ClearButton, &QToolButton::clicked, this, [this] { Clear(); });
  connect(CopyButton, &QToolButton::clicked, this, [this] { CopySelection(); });
  connect(SaveButton, &QToolButton::clicked, this, [this] { SaveAs(); });
  connect(ResetButton, &QToolButton::clicked, this, [this] { ResetStatistics(); });

  FTimer = new QTimer(this);
  FTimer->setInterval(TICK_MS);
  connect(FTimer, &QTimer::timeout, this, [this] { TakeArrivals(); });
  FTimer->start();
}

TTrafficDock::~TTrafficDock() {
  for (const auto& [hook, token] : FListening) hook->Unsubscribe(token);
}

void TTrafficDock::Listen(TFrameHook& Hook) {
  // The inbox is shared, so a listener never depends on the dock's lifetime
  // for the memory it writes to.
  FListening.emplace_back(&Hook, Hook.Subscribe([inbox = FInbox](const TFrameRecord& Record) {
    inbox->Push(MasterTrafficEntry(Record, TSummaryLanguage::slItalian));
  }));
}

void TTrafficDock::TakeArrivals() {
  std::vector<TTrafficEntry> arrived = FInbox->TakeAll();
  if (arrived.empty()) return;
  for (const TTrafficEntry& entry : arrived) FStatistics.Add(entry);
  ShowStatistics();
  if (FPaused) {
    std::move(arrived.begin(), arrived.end(), std::back_inserter(FHeld));
    if (FHeld.size() > TRAFFIC_STORE_CAPACITY)
      FHeld.erase(FHeld.begin(), FHeld.end() - static_cast<std::ptrdiff_t>(TRAFFIC_STORE_CAPACITY));
    return;
  }
  FModel->Append(std::move(arrived));
}

void TTrafficDock::SetPaused(bool Paused) {
  if (Paused == FPaused) return;
  FPaused = Paused;
  if (PauseButton->isChecked() != Paused) PauseButton->setChecked(Paused);
  PauseButton->setText(Paused ? QStringLiteral("Riprendi") : QStringLiteral("Pausa"));
  if (!Paused && !FHeld.empty()) {
    FModel->Append(std::move(FHeld));
    FHeld.clear();
    FView->scrollToBottom();
  }
}

void TTrafficDock::Clear() {
  FHeld.clear();
  FModel->Clear();
}

QString TTrafficDock::SelectedText() const {
  std::vector<int> rows;
  for (const QModelIndex& index : FView->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  if (rows.empty())
    for (int row = 0; row < FModel->rowCount(); ++row) rows.push_back(row);
  QString text;
  for (const int row : rows)
    text += QString::fromStdString(TrafficLine(FModel->Store().At(static_cast<std::size_t>(row)))) +
            QLatin1Char('\n');
  return text;
}

void TTrafficDock::CopySelection() const {
  QApplication::clipboard()->setText(SelectedText());
}

bool TTrafficDock::SaveTo(const QString& File) {
  QFile file(File);
  QByteArray text;
  for (std::size_t row = 0; row < FModel->Store().Size(); ++row)
    text += QByteArray::fromStdString(DatedTrafficLine(FModel->Store().At(row)) + '\n');
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() ||
      !file.flush()) {
    FMessageBoxes.ShowError(
        this,
        QStringLiteral("Impossibile salvare il traffico in %1: %2").arg(File, file.errorString()));
    return false;
  }
  return true;
}

void TTrafficDock::SaveAs() {
  const QString file = QFileDialog::getSaveFileName(
      this, QStringLiteral("Salva il traffico"), QStringLiteral("traffico.txt"),
      QStringLiteral("Testo (*.txt);;Tutti i file (*)"));
  if (!file.isEmpty()) SaveTo(file);
}

void TTrafficDock::ResetStatistics() {
  FStatistics.Reset();
  ShowStatistics();
}

void TTrafficDock::ShowStatistics() {
  const TTrafficStatistics& s = FStatistics;
  QString text =
      QStringLiteral("Richieste %1  Risposte %2  Time-out %3  Eccezioni %4  Errori frame %5")
          .arg(s.Requests())
          .arg(s.Replies())
          .arg(s.Timeouts())
          .arg(s.Exceptions())
          .arg(s.FrameErrors());
  if (const auto times = s.ResponseTimes())
    text += QStringLiteral("  Risposta ms min %1 media %2 max %3 ultima %4")
                .arg(Ms(times->Min), Ms(times->Average()), Ms(times->Max), Ms(times->Last));
  StatisticsLabel->setText(text);
  StatisticsLabel->setToolTip(QStringLiteral("CRC %1, LRC %2, lunghezza %3, risposte non attese %4")
                                  .arg(s.CrcErrors())
                                  .arg(s.LrcErrors())
                                  .arg(s.LengthErrors())
                                  .arg(s.Unmatched()));
}
