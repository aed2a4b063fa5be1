// The window on an Italian laptop in the field: Qt's own dialogs in Italian,
// the TCP panel's unit id and time-out, the grid copied and exported, the
// connection profiles, and a window that fits a 768-pixel screen with the
// "Traffico" panel open.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QTreeView>
#include <memory>

#include "ConnectionProfiles.h"
#include "CsvFileDialog.h"
#include "Form1.h"
#include "GuiTestSupport.h"
#include "LoopbackModbusServer.h"
#include "ProfilesDialog.h"
#include "QtTranslation.h"
#include "SerialPortCombo.h"
#include "StatusText.h"
#include "TrafficDock.h"
#include "TrafficModel.h"
#include "ValueLogger.h"
#include "WindowSettings.h"

namespace {

using TAction = TLoopbackModbusServer::TAction;
using TReply = TLoopbackModbusServer::TReply;

class Form1ToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    QLocale::setDefault(QLocale::c());
    OpenWindowSettings()->clear();
    Folder.Write(QStringLiteral("map.cfg"), {QStringLiteral("1-0:32.7.0|F|Tensione L1 (V)"),
                                             QStringLiteral("0-0:1.0.0|D|Data")});
    Form = std::make_unique<TForm1>(Boxes);
    Form->edtIPAddress->setText(QStringLiteral("127.0.0.1"));
    Form->PortEdit->setText(QString::number(Server.Port()));
  }
  void TearDown() override { QLocale::setDefault(QLocale::c()); }

  void PollOnce() {
    Form->PollButtonClick();
    ASSERT_TRUE(ProcessEventsUntil([this] { return !Form->TcpCycleRunning(); }, 20000));
    if (Form->TcpPollOn()) Form->PollButtonClick();
    Form->TrafficDock->TakeArrivals();
  }
  QByteArray FileText(const QString& Name) const {
    QFile file(Folder.Path() + QLatin1Char('/') + Name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  void Select(std::initializer_list<int> Rows) {
    Form->MBGrid->clearSelection();
    for (const int row : Rows)
      Form->MBGrid->selectionModel()->select(
          Form->MBGrid->model()->index(row, 0),
          QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  TScratchFolder Folder;
  TRecordingMessageBoxes Boxes;
  TLoopbackModbusServer Server;
  std::unique_ptr<TForm1> Form;
};

// Qt's file dialogs and buttons in Italian under an Italian locale only, from
// Qt's folder or, as on Windows, from "translations" beside the program.
TEST_F(Form1ToolsTest, QtTextsAreItalianUnderAnItalianLocale) {
  QTemporaryDir besideProgram;
  ASSERT_TRUE(QFile::copy(QtTranslationFolders().first() + QStringLiteral("/qtbase_it.qm"),
                          besideProgram.path() + QStringLiteral("/qtbase_it.qm")))
      << "qtbase_it.qm comes with Debian's qt6-translations-l10n";
  const struct {
    QLocale Locale;
    QStringList Folders;
    bool Italian;
  } rows[] = {
      {QLocale(QLocale::Italian, QLocale::Italy), {QtTranslationFolders().first()}, true},
      {QLocale(QLocale::Italian, QLocale::Italy),
       {QStringLiteral("/no/such/folder"), besideProgram.path()},
       true},
      {QLocale(QLocale::English, QLocale::UnitedStates), QtTranslationFolders(), false},
      {QLocale(QLocale::German, QLocale::Germany), QtTranslationFolders(), false},
  };
  for (const auto& row : rows) {
    QTranslator translator;
    EXPECT_EQ(LoadQtTranslation(translator, row.Locale, row.Folders), row.Italian)
        << row.Locale.name().toStdString();
    if (row.Italian) {
      EXPECT_EQ(translator.translate("QFileDialog", "Look in:"), QStringLiteral("Cerca in:"));
    }
  }
}

// File > "Registra…" writes what a spreadsheet of the locale opens as
// columns, unless the user chose the other dialect, which is remembered.
TEST_F(Form1ToolsTest, RecordingFollowsTheLocaleUnlessTheUserChose) {
  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  const QString file = Folder.Path() + QStringLiteral("/valori.csv");
  ASSERT_TRUE(Form->FValueLogger->Start(file, Form->RegisterMap()));
  Form->FValueLogger->Stop();
  EXPECT_TRUE(FileText(QStringLiteral("valori.csv")).startsWith("Timestamp;Ciclo;"));
  RememberCsvDialect(CSV_POINT);
  ASSERT_TRUE(Form->FValueLogger->Start(file, Form->RegisterMap()));
  Form->FValueLogger->Stop();
  EXPECT_TRUE(FileText(QStringLiteral("valori.csv")).startsWith("Timestamp,Ciclo,"));
}

// Gateways to serial meters need a unit id, slow routers a longer wait.
TEST_F(Form1ToolsTest, UnitIdAndTimeoutReachTheRequests) {
  EXPECT_EQ(Form->UnitIdEdit->text(), QStringLiteral("0"));
  EXPECT_EQ(Form->TimeoutEdit->text(), QStringLiteral("15"));
  Form->UnitIdEdit->setText(QStringLiteral("7"));
  Form->TimeoutEdit->setText(QStringLiteral("0.3"));
  Server.SetScript([](const auto&, int) { return TReply{TAction::Silent}; });
  PollOnce();
  const TTrafficStore& traffic = Form->TrafficDock->Model().Store();
  ASSERT_GE(traffic.Size(), 1u);
  EXPECT_EQ(traffic.At(0).Bytes.at(6), 7) << "the unit identifier of the request";
  EXPECT_TRUE(Form->ErrorPanel->text().startsWith(
      QStringLiteral("Nessuna risposta dal dispositivo entro 0.3 s (registri ")))
      << Form->ErrorPanel->text().toStdString();

  Form->UnitIdEdit->setText(QStringLiteral("256"));
  Form->PollButtonClick();
  EXPECT_FALSE(Form->TcpPollOn());
  EXPECT_TRUE(Form->ErrorPanel->text().contains(QStringLiteral("\"Unit ID\"")));
}

// Ctrl+C copies the selected rows for a spreadsheet, header first; File >
// "Esporta griglia…" writes the whole grid in the CSV dialect chosen.
TEST_F(Form1ToolsTest, GridIsCopiedAndExportedAsItStands) {
  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  const double volts = 230.5;
  std::uint64_t bits = 0;
  std::memcpy(&bits, &volts, sizeof bits);
  for (int i = 0; i < 4; ++i)
    Server.SetRegister(static_cast<uint16_t>(1 + i), static_cast<uint16_t>(bits >> (16 * i)));
  PollOnce();
  Form->show();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Select({1});
  Form->MBGrid->setFocus();
  QTest::keyClick(Form->MBGrid, Qt::Key_C, Qt::ControlModifier);
  const QString row = Form->MBGrid->item(1, 4)->text();
  EXPECT_EQ(QApplication::clipboard()->text(),
            QStringLiteral("Indirizzo\tTipo\tOBIS\tValore\tValore Registri\tDescrizione\n"
                           "1\tFLOAT64\t1-0:32.7.0\t230,5\t%1\tTensione L1 (V)\n")
                .arg(row));

  ASSERT_TRUE(Form->ExportGrid(Folder.Path() + QStringLiteral("/griglia.csv"), CSV_COMMA));
  const QList<QByteArray> lines = FileText(QStringLiteral("griglia.csv")).split('\n');
  ASSERT_EQ(lines.size(), 5);  // header, three rows, the end of the last
  EXPECT_EQ(lines[0], "Indirizzo;Tipo;OBIS;Valore;Valore Registri;Descrizione\r");
  EXPECT_EQ(lines[2], "1;FLOAT64;1-0:32.7.0;230,5;" + Form->MBGrid->item(1, 4)->text().toLatin1() +
                          ";Tensione L1 (V)\r");
}

// A profile holds every panel field the window remembers, whatever table it
// is in, and brings it back; the last profile used is remembered.
TEST_F(Form1ToolsTest, ProfilesSaveAndLoadEveryPanelSetting) {
  Folder.Write(QStringLiteral("qvztmap.cfg"), {QStringLiteral("1-0:1.8.0|I|Energia QVZT")});
  Form->edtIPAddress->setText(QStringLiteral("10.0.0.9"));
  Form->UnitIdEdit->setText(QStringLiteral("3"));
  Form->SerialPortEdit->setText(QStringLiteral("/dev/ttyUSB1"));
  Form->BaudRateCombo->setCurrentIndex(2);
  Form->chkLeaveConnectionOpen->setChecked(true);
  Form->MeterInstanceCombo->setCurrentIndex(2);
  auto settings = OpenWindowSettings();
  ASSERT_TRUE(SaveProfile(*Form, *settings, QStringLiteral(" Cabina Nord ")));
  EXPECT_FALSE(SaveProfile(*Form, *settings, QStringLiteral("a/b")));

  SaveWindowSettings(*Form, *settings);
  QStringList panelKeys;
  for (const QString& key : settings->allKeys())
    if ((key.startsWith(QLatin1String("tcp/")) || key.startsWith(QLatin1String("serial/")) ||
         key.startsWith(QLatin1String("map/"))) &&
        key != QLatin1String("serial/recentPorts"))  // the window's history of servers
      panelKeys << key;
  settings->beginGroup(QStringLiteral("profiles/Cabina Nord"));
  EXPECT_EQ(settings->allKeys().size(), panelKeys.size());
  for (const QString& key : panelKeys) EXPECT_TRUE(settings->contains(key)) << key.toStdString();
  settings->endGroup();

  Form->edtIPAddress->setText(QStringLiteral("10.0.0.1"));
  Form->UnitIdEdit->setText(QStringLiteral("0"));
  Form->SerialPortEdit->setText(QStringLiteral("/dev/ttyS0"));
  Form->BaudRateCombo->setCurrentIndex(0);
  Form->chkLeaveConnectionOpen->setChecked(false);
  Form->MeterInstanceCombo->setCurrentIndex(0);
  Form->QvztModeCheckBox->setChecked(true);
  Form->Float32CheckBoxClick();
  ASSERT_TRUE(SaveProfile(*Form, *settings, QStringLiteral("Officina")));
  EXPECT_EQ(ProfileNames(*settings),
            (QStringList{QStringLiteral("Cabina Nord"), QStringLiteral("Officina")}));
  TProfilesDialog dialog(*Form);
  EXPECT_EQ(dialog.ProfileList->currentItem()->text(), QStringLiteral("Officina"));
  dialog.ProfileList->setCurrentRow(0);
  ASSERT_TRUE(dialog.LoadSelected());
  EXPECT_EQ(Form->edtIPAddress->text(), QStringLiteral("10.0.0.9"));
  EXPECT_EQ(Form->UnitIdEdit->text(), QStringLiteral("3"));
  EXPECT_EQ(Form->SerialPortEdit->text(), QStringLiteral("/dev/ttyUSB1"));
  EXPECT_EQ(Form->BaudRateCombo->currentIndex(), 2);
  EXPECT_TRUE(Form->chkLeaveConnectionOpen->isChecked());
  EXPECT_FALSE(Form->QvztModeCheckBox->isChecked());
  EXPECT_EQ(Form->MBGrid->rowCount(), 3) << "the normal map again";
  EXPECT_EQ(Form->MBGrid->item(0, 0)->text(), QStringLiteral("2000")) << "of meter 3";
  EXPECT_EQ(LastProfile(*settings), QStringLiteral("Cabina Nord"));
  DeleteProfile(*settings, QStringLiteral("Cabina Nord"));
  EXPECT_TRUE(LastProfile(*settings).isEmpty());
}

// A 1366x768 screen with a task bar: the window with "Traffico" open fits
// 700 pixels, and both panels can still be reached.
TEST_F(Form1ToolsTest, WindowWithTheTrafficPanelFitsALaptopScreen) {
  Form->TrafficDock->show();
  Form->show();
  ProcessEventsFor(50);
  const QSize minimum = Form->minimumSizeHint();
  EXPECT_LE(minimum.height(), 700);
  Form->resize(Form->width(), minimum.height());
  ProcessEventsFor(50);
  EXPECT_GE(Form->TrafficDock->View()->height(), 100);
  EXPECT_GE(Form->MBGrid->height(), 150);
  for (QWidget* field :
       {static_cast<QWidget*>(Form->SerialPollButton), static_cast<QWidget*>(Form->PollButton)}) {
    Form->SettingsScroll->ensureWidgetVisible(field);
    ProcessEventsFor(20);
    EXPECT_FALSE(field->visibleRegion().isEmpty()) << field->objectName().toStdString();
  }
}

// The traffic panel follows new frames through a resize unless the user
// scrolled up; the bytes' tooltip has the whole frame.
TEST_F(Form1ToolsTest, TrafficPanelFollowsThroughResizesAndShowsWholeFrames) {
  TTrafficDock& dock = *Form->TrafficDock;
  dock.show();
  Form->show();
  Form->resize(1000, 700);
  ProcessEventsFor(50);
  // Frames as the TCP client reports them, taken in as the panel's timer does.
  const auto add = [&](int count) {
    TFrameRecord record;
    record.Bytes.assign(20, 0xAB);
    for (int i = 0; i < count; ++i) {
      record.Time = std::chrono::steady_clock::now();
      Form->ModbusClient().FrameHook().Emit(record);
    }
    dock.TakeArrivals();
    ProcessEventsFor(30);
  };
  QScrollBar* bar = dock.View()->verticalScrollBar();
  add(200);
  EXPECT_EQ(bar->value(), bar->maximum());
  Form->resize(1000, 900);
  ProcessEventsFor(50);
  Form->resize(1000, 650);
  ProcessEventsFor(50);
  add(5);
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum()) << "the newest frame stays in sight";
  bar->setValue(10);
  add(5);
  EXPECT_EQ(bar->value(), 10) << "the user reads older frames";

  const QString tip =
      dock.Model().data(dock.Model().index(0, TTrafficModel::tcBytes), Qt::ToolTipRole).toString();
  EXPECT_EQ(tip.count(QStringLiteral("AB")), 20);
  EXPECT_EQ(tip.count(QLatin1Char('\n')), 1) << "16 bytes a line";
}

// While recording to a long path, the traffic counters stay whole.
TEST_F(Form1ToolsTest, StatusBarElidesTheRecordingNeverTheCounters) {
  QDir().mkpath(Folder.Path() + QStringLiteral("/una/cartella/molto/lunga/per/le/misure"));
  ASSERT_TRUE(Form->FValueLogger->Start(
      Folder.Path() +
          QStringLiteral("/una/cartella/molto/lunga/per/le/misure/valori_cabina_nord.csv"),
      Form->RegisterMap()));
  Form->show();
  Form->resize(900, 650);
  ProcessEventsFor(50);
  const TStatusText& counters = *Form->TrafficDock->StatisticsLabel;
  EXPECT_GE(counters.width(), counters.sizeHint().width());
  const TStatusText& recording = *Form->FValueLogger->StatusLabel();
  EXPECT_LT(recording.width(), recording.fontMetrics().horizontalAdvance(recording.text()));
  EXPECT_EQ(recording.toolTip(), recording.text());
  Form->FValueLogger->Stop();
}

// Under the Carbon style: "Visualizza > Traffico" shows a check mark when the
// panel is open, and a disabled item of the Test menu looks disabled.
TEST_F(Form1ToolsTest, MenusShowChecksAndDisabledItems) {
  const QString previous = qApp->styleSheet();
  QFile sheet(QStringLiteral(":/styles/Carbon.qss"));
  ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
  qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
  const auto picture = [](QMenu* menu) {
    menu->ensurePolished();
    menu->resize(menu->sizeHint());
    return menu->grab().toImage();
  };
  Form->show();
  Form->TrafficDock->hide();
  ProcessEventsFor(20);
  const QImage closed = picture(Form->View1);
  Form->TrafficDock->show();
  ProcessEventsFor(20);
  ASSERT_TRUE(Form->TrafficDock->toggleViewAction()->isChecked());
  EXPECT_NE(picture(Form->View1), closed) << "no check mark";
  const QImage enabled = picture(Form->Test1);
  Form->TcpTest1->setEnabled(false);
  Form->SerialTest1->setEnabled(false);
  EXPECT_NE(picture(Form->Test1), enabled) << "disabled items look enabled";
  qApp->setStyleSheet(previous);
}

}  // namespace
