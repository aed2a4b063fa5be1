#include "WindowCommandLine.h"

#include <QCommandLineParser>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "Form1.h"
#include "NetworkEndpoint.h"
#include "SerialPortCombo.h"

namespace {

struct TOptions {
  QCommandLineOption Tcp{
      QStringLiteral("tcp"),
      QStringLiteral("Fills the TCP panel: IP address and, after a colon, the port."),
      QStringLiteral("HOST[:PORT]")};
  QCommandLineOption Serial{QStringLiteral("serial"),
                            QStringLiteral("Fills the serial panel's port."),
                            QStringLiteral("PORT")};
  QCommandLineOption Start{
      QStringLiteral("start"),
      QStringLiteral("Presses Start Poll of the panel given by --tcp or --serial.")};
};

void Describe(QCommandLineParser& parser, const TOptions& options) {
  parser.setApplicationDescription(
      QStringLiteral("Test VIVAR517: polls a KQ517 meter over Modbus TCP or RTU."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(options.Tcp);
  parser.addOption(options.Serial);
  parser.addOption(options.Start);
}

// HOST, HOST:PORT, [IPv6] or [IPv6]:PORT, read as the command-line programs
// read --tcp.
bool SplitTarget(const QString& target, QString& host, QString& port, QString& error) {
  std::string reason;
  const auto parsed = ParseHostPort(target.toStdString(), reason);
  if (!parsed) {
    error = QStringLiteral("--tcp: %1").arg(QString::fromStdString(reason));
    return false;
  }
  host = QString::fromStdString(parsed->Host);
  port = parsed->Port ? QString::number(*parsed->Port) : QString();
  return true;
}

}  // namespace

bool ParseWindowCommandLine(const QStringList& Arguments, TWindowCommandLine& Result,
                            QString& Error) {
  Result = TWindowCommandLine{};
  QCommandLineParser parser;
  const TOptions options;
  Describe(parser, options);
  if (!parser.parse(Arguments)) {
    Error = parser.errorText();
    return false;
  }
  Result.Help = parser.isSet(QStringLiteral("help"));
  Result.Version = parser.isSet(QStringLiteral("version"));
  if (!parser.positionalArguments().isEmpty()) {
    Error = QStringLiteral("Unexpected argument '%1'").arg(parser.positionalArguments().first());
    return false;
  }
  if (parser.isSet(options.Tcp) &&
      !SplitTarget(parser.value(options.Tcp), Result.TcpHost, Result.TcpPort, Error))
    return false;
  if (parser.isSet(options.Serial)) {
    Result.SerialPort = parser.value(options.Serial);
    if (Result.SerialPort.isEmpty()) {
      Error = QStringLiteral("--serial names no port");
      return false;
    }
  }
  Result.Start = parser.isSet(options.Start);
  if (Result.Start && Result.TcpHost.isEmpty() == Result.SerialPort.isEmpty()) {
    Error = QStringLiteral("--start needs exactly one of --tcp and --serial");
    return false;
  }
  return true;
}

QString WindowCommandLineHelp() {
  QCommandLineParser parser;
  const TOptions options;
  Describe(parser, options);
  return parser.helpText();
}

void ApplyWindowCommandLine(TForm1& form, const TWindowCommandLine& commandLine) {
  if (!commandLine.TcpHost.isEmpty()) {
    form.edtIPAddress->setText(commandLine.TcpHost);
    if (!commandLine.TcpPort.isEmpty()) form.PortEdit->setText(commandLine.TcpPort);
  }
  if (!commandLine.SerialPort.isEmpty()) form.SerialPortEdit->setText(commandLine.SerialPort);
  if (!commandLine.Start) return;
  QPushButton* button = commandLine.TcpHost.isEmpty() ? form.SerialPollButton : form.PollButton;
  QTimer::singleShot(0, button, [button] { button->click(); });
}
