// The window's views of the wire and its records, against the scripted
// Modbus TCP server on 127.0.0.1: the "Traffico" panel with its statistics,
// File > "Registra…" and "Grafico".

#include <gtest/gtest.h>

#include <QAction>
#include <QDate>
#include <QFile>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableWidget>
#include <memory>

#include "Form1.h"
#include "GuiTestSupport.h"
#include "LoopbackModbusServer.h"
#include "StatusText.h"
#include "TrafficDock.h"
#include "TrafficModel.h"
#include "TrendChartWindow.h"
#include "ValueLogger.h"
#include "WindowSettings.h"

namespace {

using TAction = TLoopbackModbusServer::TAction;
using TReply = TLoopbackModbusServer::TReply;

// Firmware word, a voltage (4 registers), a date: 7 registers.
const QStringList MAP = {QStringLiteral("1-0:32.7.0|F|Tensione L1 (V)"),
                         QStringLiteral("0-0:1.0.0|D|Data")};

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    QLocale::setDefault(QLocale::c());
    OpenWindowSettings()->clear();
    Folder = std::make_unique<TScratchFolder>();
    Folder->Write(QStringLiteral("map.cfg"), MAP);
    Server.SetRegister(0, 0x0105);
    const double volts = 230.5;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &volts, sizeof bits);
    for (int i = 0; i < 4; ++i)
      Server.SetRegister(static_cast<uint16_t>(1 + i), static_cast<uint16_t>(bits >> (16 * i)));
    Form = std::make_unique<TForm1>(Boxes);
    Form->edtIPAddress->setText(QStringLiteral("127.0.0.1"));
    Form->PortEdit->setText(QString::number(Server.Port()));
  }

  // One cycle of a TCP poll that is stopped again once it has reported.
  void PollOnce() {
    Form->PollButtonClick();
    ASSERT_TRUE(ProcessEventsUntil([this] { return !Form->TcpCycleRunning(); }, 20000));
    Form->PollButtonClick();
    Form->TrafficDock->TakeArrivals();
  }

  QString Traffic(int row, int column) const {
    const TTrafficModel& model = Form->TrafficDock->Model();
    return model.data(model.index(row, column)).toString();
  }

  TRecordingMessageBoxes Boxes;
  TLoopbackModbusServer Server;
  std::unique_ptr<TScratchFolder> Folder;
  std::unique_ptr<TForm1> Form;
};

TEST_F(RecordingTest, TrafficPanelShowsEveryFrameHoldsThemWhilePausedAndSavesThem) {
  TTrafficDock& dock = *Form->TrafficDock;
  PollOnce();
  ASSERT_EQ(dock.Model().rowCount(), 2);
  EXPECT_EQ(Traffic(0, TTrafficModel::tcDirection), QStringLiteral("TX"));
  // In the window's language; --trace and kq517mon keep English.
  EXPECT_EQ(Traffic(0, TTrafficModel::tcSummary), QStringLiteral("lettura registri holding 0+7"));
  EXPECT_EQ(Traffic(1, TTrafficModel::tcSummary), QStringLiteral("risposta 7 registri"));
  EXPECT_FALSE(Traffic(1, TTrafficModel::tcResponse).isEmpty());

  dock.SetPaused(true);
  PollOnce();
  EXPECT_EQ(dock.Model().rowCount(), 2);  // held, and counted
  EXPECT_TRUE(dock.StatisticsLabel->text().startsWith(QStringLiteral("Richieste 2  Risposte 2")))
      << dock.StatisticsLabel->text().toStdString();
  dock.SetPaused(false);
  EXPECT_EQ(dock.Model().rowCount(), 4);

  const QString file = Folder->Path() + QStringLiteral("/traffico.txt");
  ASSERT_TRUE(dock.SaveTo(file));
  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = saved.readAll().split('\n');
  ASSERT_EQ(lines.size(), 5);  // four lines and the end of the last
  EXPECT_TRUE(lines[2].contains(" TX ") &&
              lines[2].endsWith(" 00 00 00 06 00 03 00 00 00 07  lettura registri holding 0+7"))
      << lines[2].toStdString();
  EXPECT_TRUE(lines[2].startsWith(QDate::currentDate().toString(Qt::ISODate).toLatin1() + ' '))
      << "each time with its date: " << lines[2].toStdString();
  EXPECT_EQ(dock.SelectedText().count(QLatin1Char('\n')), 4);

  dock.Clear();
  dock.ResetStatistics();
  EXPECT_EQ(dock.Model().rowCount(), 0);
  EXPECT_TRUE(dock.StatisticsLabel->text().startsWith(QStringLiteral("Richieste 0")));
  EXPECT_FALSE(dock.SaveTo(Folder->Path() + QStringLiteral("/no-folder/t.txt")));
  ASSERT_EQ(Boxes.Messages.size(), 1u);
}

// Once full, each batch pushes out as many of the oldest rows as it brings.
TEST_F(RecordingTest, TrafficModelKeepsItsNewestRows) {
  TTrafficModel model(nullptr, 4);
  const auto batch = [](int From, int Count) {
    std::vector<TTrafficEntry> entries(static_cast<std::size_t>(Count));
    for (int i = 0; i < Count; ++i)
      entries[static_cast<std::size_t>(i)].Summary = std::to_string(From + i);
    return entries;
  };
  model.Append(batch(1, 3));
  model.Append(batch(4, 3));
  model.Append(batch(7, 9));
  ASSERT_EQ(model.rowCount(), 4);
  EXPECT_EQ(model.data(model.index(0, TTrafficModel::tcSummary)).toString(), QStringLiteral("12"));
  EXPECT_EQ(model.data(model.index(3, TTrafficModel::tcSummary)).toString(), QStringLiteral("15"));
}

TEST_F(RecordingTest, ValueLogWritesEveryCycleAndAFailedOneWithItsError) {
  const QString file = Folder->Path() + QStringLiteral("/valori.csv");
  ASSERT_TRUE(Form->FValueLogger->Start(file, Form->RegisterMap()));
  PollOnce();
  Server.SetScript([](const TLoopbackModbusServer::TRequest&, int) {
    return TReply{TAction::Exception, 2};
  });
  PollOnce();
  Form->FValueLogger->Stop();
  QFile log(file);
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = log.readAll().split('\n');
  ASSERT_EQ(lines.size(), 4) << log.fileName().toStdString();
  EXPECT_EQ(lines[0],
            "Timestamp,Ciclo,Versione Firmware VIVAR517,1-0:32.7.0 Tensione L1 (V),0-0:1.0.0 "
            "Data,Errore\r");
  EXPECT_TRUE(lines[1].contains(",1,261,230.5,") && lines[1].endsWith(",\r"))
      << lines[1].toStdString();
  EXPECT_TRUE(lines[2].endsWith(",2,,,,Eccezione Server: Indirizzo Illegale (registri 0-6)\r"))
      << lines[2].toStdString();
}

TEST_F(RecordingTest, ChartOffersNumericRowsOnlyAndExportsAPicture) {
  const auto select = [this](std::initializer_list<int> rows) {
    Form->MBGrid->clearSelection();
    for (const int row : rows)
      Form->MBGrid->selectionModel()->select(
          Form->MBGrid->model()->index(row, 0),
          QItemSelectionModel::Select | QItemSelectionModel::Rows);
  };
  select({2});  // the date
  EXPECT_FALSE(Form->Chart1->isEnabled());
  select({1, 2});
  ASSERT_TRUE(Form->Chart1->isEnabled());
  TTrendChartWindow* chart = Form->OpenTrendChart();
  ASSERT_NE(chart, nullptr);
  ASSERT_EQ(chart->History().Series().size(), 1u);
  EXPECT_EQ(chart->History().Units(), std::vector<std::string>{"V"});
  EXPECT_EQ(chart->Span(), std::chrono::minutes(10));
  PollOnce();
  ASSERT_EQ(chart->History().Series()[0].Points.size(), 1u);
  EXPECT_EQ(chart->History().Series()[0].Points[0].Value, 230.5);

  const QString picture = Folder->Path() + QStringLiteral("/grafico.png");
  ASSERT_TRUE(chart->ExportPng(picture));
  EXPECT_FALSE(QImage(picture).isNull());
}

}  // namespace
