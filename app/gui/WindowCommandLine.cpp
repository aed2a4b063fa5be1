#include "WindowCommandLine.h"

#include <QCommandLineParser>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "Form1.h"
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

bool IsPortNumber(const QString& text) {
  bool ok = false;
  const uint port = text.toUInt(&ok);
  return ok && port <= 65535 && !text.startsWith(QLatin1Char('+'));
}

// HOST, HOST:PORT, [IPv6] or [IPv6]:PORT; a bare IPv6 address (more than one
// colon) is a host without port.
bool SplitTarget(const QString& target, QString& host, QString& port, QString& error) {
  host = target;
  port.clear();
  bool hasPort = false;
  if (target.startsWith(QLatin1Char('['))) {
    const qsizetype close = target.indexOf(QLatin1Char(']'));
    const QString rest = close < 0 ? QString() : target.mid(close + 1);
    if (close < 0 || (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))) {
      error = QStringLiteral("--tcp: '%1' is not HOST[:PORT]").arg(target);
      return false;
    }
    host = target.mid(1, close - 1);
    hasPort = !rest.isEmpty();
    port = rest.mid(1);
  } else if (target.count(QLatin1Char(':')) == 1) {
    const qsizetype colon = target.indexOf(QLatin1Char(':'));
    host = target.left(colon);
    port = target.mid(colon + 1);
    hasPort = true;
  }
  if (host.isEmpty()) {
    error = QStringLiteral("--tcp: '%1' names no host").arg(target);
    return false;
  }
  if (hasPort && !IsPortNumber(port)) {
    error = QStringLiteral("--tcp: '%1' is not a port number (0 to 65535)").arg(port);
    return false;
  }
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
