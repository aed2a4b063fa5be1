#pragma once
// The window's settings, remembered per user between runs: what was entered
// in both panels, the map options and the window's size and position. A
// first start (nothing stored) keeps the window's own defaults.
//
// They live in an INI file under the user's configuration folder
// (~/.config/KQ517/Test_KQ517T.ini); QSettings::setPath(IniFormat,
// UserScope, folder) moves it, which is how tests keep away from the real one.

#include <QSettings>
#include <memory>

class TForm1;

// The user's settings file.
std::unique_ptr<QSettings> OpenWindowSettings();

// Puts the stored values into the controls. Values that no longer fit a list
// (an index out of range) are skipped.
void RestoreWindowSettings(TForm1& form, const QSettings& settings);
void SaveWindowSettings(const TForm1& form, QSettings& settings);

// The panels' settings alone: every field of the tables in WindowSettings.cpp
// whose key starts with "tcp/", "serial/" or "map/", under the settings'
// current group. A field added to a table joins the connection profiles
// (ConnectionProfiles.h) with no code of its own.
void RestorePanelSettings(TForm1& form, const QSettings& settings);
void SavePanelSettings(const TForm1& form, QSettings& settings);
