// Builds the controls and the menu of the main window. Only construction and
// placement live here; what the controls do is in Form1.cpp.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "BusyBar.h"
#include "Form1.h"
#include "RegisterGrid.h"
#include "RegisterTypes.h"
#include "SerialPortCombo.h"

namespace {

constexpr int CLIENT_WIDTH = 1007;
constexpr int CLIENT_HEIGHT = 573;
// Wide enough for two label-and-list pairs side by side ("Baud Rate" and "Bit
// dati", ...), so that the serial line's lists add no height; the grid's last
// column gives up the width.
constexpr int SETTINGS_WIDTH = 380;
constexpr int ERROR_BAR_HEIGHT = 28;
constexpr int GRID_MINIMUM_HEIGHT = 160;
constexpr int OUTER_MARGIN = 8;  // around the settings column and the grid
// The window manager's title bar and frame, which the available height of a
// screen does not take off.
constexpr int TITLE_BAR_ALLOWANCE = 40;

// Tahoma where it is installed, otherwise the closest sans-serif faces of a
// Linux desktop, always at 11 pixels.
QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Verdana"),
                    QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Noto Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption) {
  return Named(new QLabel(QString::fromUtf8(caption), parent), name);
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const char* text) {
  return Named(new QLineEdit(QString::fromUtf8(text), parent), name);
}

QComboBox* MakeByteSequenceCombo(QWidget* parent, const char* name) {
  auto* combo = Named(new QComboBox(parent), name);
  for (int i = 0; i < BYTE_SEQUENCE_COUNT; ++i)
    combo->addItem(QString::fromLatin1(BYTE_SEQUENCE_NAMES[i]));
  combo->setCurrentIndex(0);
  return combo;
}

QFrame* MakePanel(QWidget* parent, const char* name) {
  auto* panel = Named(new QFrame(parent), name);
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Raised);
  return panel;
}

// "Continua dopo un errore": a failed cycle shows its error and the poll
// goes on, starting the next cycle afresh (off by default).
QCheckBox* MakeKeepGoingBox(QWidget* parent, const char* name) {
  auto* box = Named(new QCheckBox(QStringLiteral("Continua dopo un errore"), parent), name);
  box->setToolTip(QStringLiteral(
      "Un ciclo fallito mostra il suo errore e il polling continua: al tick successivo "
      "la connessione viene riaperta"));
  return box;
}

QAction* MakeAction(QMenu* menu, const char* name, const char* caption, bool visible) {
  QAction* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(QString::fromLatin1(name));
  action->setVisible(visible);
  return action;
}

QAction* MakeSeparator(QMenu* menu, const char* name) {
  QAction* action = menu->addSeparator();
  action->setObjectName(QString::fromLatin1(name));
  action->setVisible(false);
  return action;
}

}  // namespace

void TForm1::BuildControls() {
  setObjectName(QStringLiteral("Form1"));
  setFont(WindowFont());
  // A window the user can resize: the grid takes whatever room it gets.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);

  auto* client = Named(new QWidget(this), "ClientArea");
  setCentralWidget(client);

  // Left column: map options, the serial panel, the progress bar, the TCP
  // panel. It scrolls when the window is lower than the column (a laptop
  // screen with the "Traffico" panel open), so the window never needs the
  // height of both panels.
  SettingsScroll = Named(new QScrollArea(client), "SettingsScroll");
  SettingsScroll->setFrameShape(QFrame::NoFrame);
  SettingsScroll->setWidgetResizable(true);
  SettingsScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SettingsScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  auto* settings = Named(new QWidget(SettingsScroll), "SettingsColumn");
  settings->setFixedWidth(SETTINGS_WIDTH);
  auto* column = new QVBoxLayout(settings);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);

  QvztModeCheckBox =
      Named(new QCheckBox(QStringLiteral("Modalità QVZT 3-e-3"), settings), "QvztModeCheckBox");
  column->addWidget(QvztModeCheckBox);

  auto* instanceRow = new QHBoxLayout();
  Label13 = MakeLabel(settings, "Label13", "Contatore");
  MeterInstanceCombo = Named(new QComboBox(settings), "MeterInstanceCombo");
  for (int i = 1; i <= METER_INSTANCE_COUNT; ++i) MeterInstanceCombo->addItem(QString::number(i));
  MeterInstanceCombo->setCurrentIndex(0);
  instanceRow->addWidget(Label13);
  instanceRow->addWidget(MeterInstanceCombo, 1);
  column->addLayout(instanceRow);

  Panel2 = MakePanel(settings, "Panel2");
  auto* serial = new QGridLayout(Panel2);
  serial->setContentsMargins(6, 6, 6, 6);
  serial->setVerticalSpacing(4);
  serial->setHorizontalSpacing(4);
  Label4 = MakeLabel(Panel2, "Label4", "Serial Port");
  SerialPortEdit = Named(new TSerialPortCombo(QStringLiteral("COM7"), Panel2), "SerialPortEdit");
#ifndef _WIN32
  // "COM7" names no port here: the first port the system has is the default.
  if (SerialPortEdit->count() > 0) SerialPortEdit->setText(SerialPortEdit->itemText(0));
#endif
  Label5 = MakeLabel(Panel2, "Label5", "Poll Interval");
  SerialPollIntervalEdit = MakeEdit(Panel2, "SerialPollIntervalEdit", "2");
  Label8 = MakeLabel(Panel2, "Label8", "Baud Rate");
  BaudRateCombo = Named(new QComboBox(Panel2), "BaudRateCombo");
  Label9 = MakeLabel(Panel2, "Label9", "Parity");
  ParityCombo = Named(new QComboBox(Panel2), "ParityCombo");
  Label10 = MakeLabel(Panel2, "Label10", "Slave Address");
  SerialSlaveAddressEdit = MakeEdit(Panel2, "SerialSlaveAddressEdit", "1");
  Label12 = MakeLabel(Panel2, "Label12", "Sequenza Bytes");
  SerialBytesSequenceCombo = MakeByteSequenceCombo(Panel2, "SerialBytesSequenceCombo");
  SerialDetectButton =
      Named(new QPushButton(QStringLiteral("Rileva"), Panel2), "SerialDetectButton");
  SerialPollButton =
      Named(new QPushButton(QStringLiteral("Start Poll"), Panel2), "SerialPollButton");
  ScanButton = Named(new QPushButton(QStringLiteral("Cerca dispositivo"), Panel2), "ScanButton");
  LabelMode = MakeLabel(Panel2, "LabelMode", "Modo");
  ModeCombo = Named(new QComboBox(Panel2), "ModeCombo");
  LabelDataBits = MakeLabel(Panel2, "LabelDataBits", "Bit dati");
  DataBitsCombo = Named(new QComboBox(Panel2), "DataBitsCombo");
  LabelStopBits = MakeLabel(Panel2, "LabelStopBits", "Bit di stop");
  StopBitsCombo = Named(new QComboBox(Panel2), "StopBitsCombo");
  LabelSerialFunction = MakeLabel(Panel2, "LabelSerialFunction", "Funzione");
  SerialFunctionCombo = Named(new QComboBox(Panel2), "SerialFunctionCombo");
  // Each row: a setting, and beside it a second one (or the first spanning the row).
  struct TPanelRow {
    QLabel* label;
    QWidget* field;
    QLabel* besideLabel;
    QWidget* besideField;
  };
  const TPanelRow serialRows[] = {
      {Label4, SerialPortEdit, nullptr, nullptr},
      {Label5, SerialPollIntervalEdit, LabelMode, ModeCombo},
      {Label8, BaudRateCombo, LabelDataBits, DataBitsCombo},
      {Label9, ParityCombo, LabelStopBits, StopBitsCombo},
      {Label10, SerialSlaveAddressEdit, LabelSerialFunction, SerialFunctionCombo},
      {Label12, SerialBytesSequenceCombo, nullptr, nullptr}};
  const auto addRows = [](QGridLayout* grid, const auto& rows) {
    int at = 0;
    for (const TPanelRow& row : rows) {
      grid->addWidget(row.label, at, 0);
      if (row.besideLabel == nullptr) {
        grid->addWidget(row.field, at, 1, 1, 3);
      } else {
        grid->addWidget(row.field, at, 1);
        grid->addWidget(row.besideLabel, at, 2);
        grid->addWidget(row.besideField, at, 3);
      }
      ++at;
    }
    return at;
  };
  int row = addRows(serial, serialRows);
  // "Rileva" under the byte-sequence list it sets.
  serial->addWidget(SerialDetectButton, row++, 1);
  chkFrameEndByLength = Named(new QCheckBox(QStringLiteral("Fine frame per lunghezza"), Panel2),
                              "chkFrameEndByLength");
  chkFrameEndByLength->setToolTip(QStringLiteral(
      "Una risposta finisce appena arrivano i byte annunciati dal suo codice funzione, "
      "senza attendere il silenzio della linea"));
  serial->addWidget(chkFrameEndByLength, row++, 0, 1, 4);
  chkSerialLeaveOpen = Named(new QCheckBox(QStringLiteral("Lascia aperta la connessione"), Panel2),
                             "chkSerialLeaveOpen");
  chkSerialLeaveOpen->setToolTip(
      QStringLiteral("Dietro un server seriale (tcp://) la connessione resta aperta da un ciclo "
                     "all'altro; molti server accettano un solo client"));
  serial->addWidget(chkSerialLeaveOpen, row++, 0, 1, 4);
  chkSerialKeepGoing = MakeKeepGoingBox(Panel2, "chkSerialKeepGoing");
  serial->addWidget(chkSerialKeepGoing, row++, 0, 1, 4);
  serial->addWidget(SerialPollButton, row++, 0, 1, 4);
  serial->addWidget(ScanButton, row, 0, 1, 4);
  serial->setColumnStretch(1, 1);
  serial->setColumnStretch(3, 1);
  column->addWidget(Panel2);

  ProgressBar1 = Named(new TBusyBar(settings), "ProgressBar1");
  ProgressBar1->setFixedHeight(10);
  // Its room is kept while it is hidden, so the panels below stay in place
  // when a poll starts.
  QSizePolicy keepRoom = ProgressBar1->sizePolicy();
  keepRoom.setRetainSizeWhenHidden(true);
  ProgressBar1->setSizePolicy(keepRoom);
  column->addWidget(ProgressBar1);

  Panel1 = MakePanel(settings, "Panel1");
  auto* tcp = new QGridLayout(Panel1);
  tcp->setContentsMargins(6, 6, 6, 6);
  tcp->setVerticalSpacing(4);
  tcp->setHorizontalSpacing(4);
  Label2 = MakeLabel(Panel1, "Label2", "IP");
  edtIPAddress = MakeEdit(Panel1, "edtIPAddress", "192.168.1.50");
  Label3 = MakeLabel(Panel1, "Label3", "Port");
  PortEdit = MakeEdit(Panel1, "PortEdit", "502");
  Label1 = MakeLabel(Panel1, "Label1", "Poll Interval");
  PollIntervalEdit = MakeEdit(Panel1, "PollIntervalEdit", "2");
  Label11 = MakeLabel(Panel1, "Label11", "Sequenza Bytes");
  BytesSequenceCombo = MakeByteSequenceCombo(Panel1, "BytesSequenceCombo");
  Label14 = MakeLabel(Panel1, "Label14", "Unit ID");
  UnitIdEdit = MakeEdit(Panel1, "UnitIdEdit", "0");
  Label15 = MakeLabel(Panel1, "Label15", "Timeout (s)");
  TimeoutEdit = MakeEdit(Panel1, "TimeoutEdit", "15");
  DetectButton = Named(new QPushButton(QStringLiteral("Rileva"), Panel1), "DetectButton");
  PollButton = Named(new QPushButton(QStringLiteral("Start Poll"), Panel1), "PollButton");
  chkLeaveConnectionOpen = Named(new QCheckBox(QStringLiteral("Leave Connection Open"), Panel1),
                                 "chkLeaveConnectionOpen");
  LabelTcpFunction = MakeLabel(Panel1, "LabelTcpFunction", "Funzione");
  TcpFunctionCombo = Named(new QComboBox(Panel1), "TcpFunctionCombo");
  const TPanelRow tcpRows[] = {{Label2, edtIPAddress, nullptr, nullptr},
                               {Label3, PortEdit, LabelTcpFunction, TcpFunctionCombo},
                               {Label14, UnitIdEdit, Label15, TimeoutEdit},
                               {Label1, PollIntervalEdit, nullptr, nullptr},
                               {Label11, BytesSequenceCombo, nullptr, nullptr}};
  row = addRows(tcp, tcpRows);
  tcp->addWidget(DetectButton, row++, 1);
  tcp->addWidget(PollButton, row++, 0, 1, 4);
  tcp->addWidget(chkLeaveConnectionOpen, row++, 0, 1, 4);
  chkKeepGoing = MakeKeepGoingBox(Panel1, "chkKeepGoing");
  tcp->addWidget(chkKeepGoing, row, 0, 1, 4);
  tcp->setColumnStretch(1, 1);
  tcp->setColumnStretch(3, 1);
  column->addWidget(Panel1);

  Float32CheckBox =
      Named(new QCheckBox(QStringLiteral("32 Bit Floating Point"), settings), "Float32CheckBox");
  column->addWidget(Float32CheckBox);

  // The manual read panel belongs to the window but is never shown.
  GroupBox3 = Named(new QGroupBox(QStringLiteral(" Read registers"), settings), "GroupBox3");
  auto* manual = new QGridLayout(GroupBox3);
  Label6 = MakeLabel(GroupBox3, "Label6", "PLC register nr.");
  Edit1 = MakeEdit(GroupBox3, "Edit1", "10");
  Label7 = MakeLabel(GroupBox3, "Label7", "Block length");
  Edit2 = MakeEdit(GroupBox3, "Edit2", "8");
  Button1 = Named(new QPushButton(QStringLiteral("&Read register"), GroupBox3), "Button1");
  manual->addWidget(Label6, 0, 0);
  manual->addWidget(Edit1, 0, 1);
  manual->addWidget(Label7, 1, 0);
  manual->addWidget(Edit2, 1, 1);
  manual->addWidget(Button1, 2, 0, 1, 2);
  GroupBox3->setVisible(false);
  column->addWidget(GroupBox3);
  column->addStretch(1);
  SettingsScroll->setWidget(settings);
  // Room for the scroll bar beside the column, so that it never covers a field.
  SettingsScroll->setFixedWidth(SETTINGS_WIDTH +
                                SettingsScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent));

  // The grid: a fixed header row, no fixed column, only a vertical scroll bar.
  MBGrid = Named(new QTableWidget(client), "MBGrid");
  MBGrid->setColumnCount(GRID_COLUMN_COUNT);
  MBGrid->verticalHeader()->setVisible(false);
  MBGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  MBGrid->verticalHeader()->setMinimumSectionSize(GRID_ROW_HEIGHT);
  MBGrid->verticalHeader()->setDefaultSectionSize(GRID_ROW_HEIGHT);
  MBGrid->horizontalHeader()->setHighlightSections(false);
  MBGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Columns the user can widen; the description takes the spare width.
  MBGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  MBGrid->horizontalHeader()->setStretchLastSection(true);
  MBGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MBGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  MBGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  MBGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  MBGrid->setWordWrap(false);
  // However low the window, the grid keeps a few rows in sight.
  MBGrid->setMinimumHeight(GRID_MINIMUM_HEIGHT);

  ErrorPanel = Named(new QLabel(client), "ErrorPanel");
  ErrorPanel->setFixedHeight(ERROR_BAR_HEIGHT);
  ErrorPanel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ErrorPanel->setAutoFillBackground(true);
  QPalette errorColours = ErrorPanel->palette();
  errorColours.setColor(QPalette::Window, QColor(0xD0, 0x00, 0x00));
  errorColours.setColor(QPalette::WindowText, Qt::white);
  ErrorPanel->setPalette(errorColours);
  QFont errorFont = WindowFont();
  errorFont.setPixelSize(13);
  ErrorPanel->setFont(errorFont);
  ErrorPanel->setVisible(false);

  auto* top = new QHBoxLayout();
  top->setContentsMargins(OUTER_MARGIN, OUTER_MARGIN, OUTER_MARGIN, OUTER_MARGIN);
  top->setSpacing(OUTER_MARGIN);
  top->addWidget(SettingsScroll);
  top->addWidget(MBGrid, 1);
  auto* outer = new QVBoxLayout(client);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addLayout(top, 1);
  outer->addWidget(ErrorPanel);

  PollTimer = Named(new TPollTimer(this), "PollTimer");
  SerialPollTimer = Named(new TPollTimer(this), "SerialPollTimer");

  BuildMenu();
  // The first size: the client area of the design plus the menu bar.
  resize(CLIENT_WIDTH, CLIENT_HEIGHT + menuBar()->sizeHint().height());
}

void TForm1::FitSettingsColumn() {
  const int column = SettingsScroll->widget()->sizeHint().height() + 2 * OUTER_MARGIN;
  const int chrome = menuBar()->sizeHint().height() + statusBar()->sizeHint().height();
  int wanted = std::max(height(), column + chrome);
  if (const QScreen* screen = this->screen())
    wanted = std::min(wanted, screen->availableGeometry().height() - TITLE_BAR_ALLOWANCE);
  if (wanted > height()) resize(width(), wanted);
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  File1 = bar->addMenu(QStringLiteral("&File"));
  File1->setObjectName(QStringLiteral("File1"));
  New1 = MakeAction(File1, "New1", "&New", false);
  Open1 = MakeAction(File1, "Open1", "&Open...", false);
  Save1 = MakeAction(File1, "Save1", "&Save", false);
  SaveAs1 = MakeAction(File1, "SaveAs1", "Save &As...", false);
  N1 = MakeSeparator(File1, "N1");
  Print1 = MakeAction(File1, "Print1", "&Print...", false);
  PrintSetup1 = MakeAction(File1, "PrintSetup1", "P&rint Setup...", false);
  N2 = MakeSeparator(File1, "N2");
  Exit1 = MakeAction(File1, "Exit1", "E&sci", true);
  Test1 = bar->addMenu(QStringLiteral("&Test"));
  Test1->setObjectName(QStringLiteral("Test1"));
  TcpTest1 = MakeAction(Test1, "TcpTest1", "Test limiti via &TCP...", true);
  SerialTest1 = MakeAction(Test1, "SerialTest1", "Test limiti via &seriale...", true);
  Help1 = bar->addMenu(QStringLiteral("&Help"));
  Help1->setObjectName(QStringLiteral("Help1"));
  About1 = MakeAction(Help1, "About1", "&About...", true);
}
