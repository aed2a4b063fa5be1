#pragma once
// What the error bar says when the serial port does not open: the library's
// "Could not open serial port", then the port and the system's reason, and
// for a permission problem the group the user must join (Linux) or the hint
// that another program holds the port (Windows).

#include <string>

// The device path the library opens for Port: on Linux a name with a '/' is a
// path, a bare name such as ttyUSB0 is looked up under /dev/; on Windows COM5
// is \\.\COM5.
std::string SerialDevicePath(const std::string& Port);

// Opens the device once more, as the library does, to learn why it failed,
// and builds the text from the library's Message, the path and that reason.
// A device that opens now gives Message and the path alone.
std::string SerialOpenFailureText(const std::string& Message, const std::string& Port);

// The text for a known errno (the Linux reasons); Group is the name of the group that owns the
// device (only used for EACCES and EPERM; empty when unknown).
std::string SerialOpenFailureText(const std::string& Message, const std::string& Path, int Error,
                                  const std::string& Group);
