#pragma once
// The window's command line:
//   Test_KQ517T [--tcp HOST[:PORT]] [--serial PORT] [--start]
// --tcp fills "IP" (and "Port" when given; "[v6]:PORT" for an IPv6 address),
// --serial fills "Serial Port", and --start presses that panel's "Start Poll"
// once the window is shown. Given on the command line, they win over the
// remembered settings.

#include <QString>
#include <QStringList>

class TForm1;

struct TWindowCommandLine {
  QString TcpHost;     // empty: not given
  QString TcpPort;     // empty: the field keeps its text
  QString SerialPort;  // empty: not given
  bool Start = false;
  bool Help = false;
  bool Version = false;
};

// Parses Arguments (the program name first). Returns false with Error set
// when they are not valid; Help and Version are set instead of printing.
bool ParseWindowCommandLine(const QStringList& Arguments, TWindowCommandLine& Result,
                            QString& Error);

// The --help text.
QString WindowCommandLineHelp();

// Fills the panels; with Start, presses the panel's "Start Poll" from the
// event loop, once the window is up.
void ApplyWindowCommandLine(TForm1& form, const TWindowCommandLine& commandLine);
