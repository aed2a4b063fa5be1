#pragma once
// Connection profiles: the panels' settings (WindowSettings.h: every "tcp/*",
// "serial/*" and "map/*" field) saved under a name, a site or a meter, and
// put back into the panels later. They live in the window's settings file,
// under "profiles/NAME/", beside the name of the last profile saved or loaded.

#include <QSettings>
#include <QString>
#include <QStringList>

class TForm1;

// The stored profiles, in alphabetical order.
QStringList ProfileNames(QSettings& Settings);

// Whether Name can name a profile: not empty and without '/' or '\' (which
// would make it a path in the settings). Blanks around it do not count.
bool IsProfileName(const QString& Name);

// Stores the panels' settings under Name (replacing a profile of that name)
// and remembers it as the last one used; false for a name IsProfileName refuses.
bool SaveProfile(const TForm1& Form, QSettings& Settings, const QString& Name);

// Puts the profile's settings into the panels and remembers it as the last one
// used; false when there is no such profile. The caller makes the map follow
// the map options (TForm1::Float32CheckBoxClick reloads it for them).
bool LoadProfile(TForm1& Form, QSettings& Settings, const QString& Name);

void DeleteProfile(QSettings& Settings, const QString& Name);

// The profile saved or loaded last; empty when none, or when it was deleted.
QString LastProfile(QSettings& Settings);
