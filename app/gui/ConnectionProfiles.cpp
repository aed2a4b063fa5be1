#include "ConnectionProfiles.h"

#include "WindowSettings.h"

namespace {

const QString PROFILES = QStringLiteral("profiles");
const QString LAST_PROFILE = QStringLiteral("window/lastProfile");

QString GroupOf(const QString& Name) {
  return PROFILES + QLatin1Char('/') + Name.trimmed();
}

}  // namespace

QStringList ProfileNames(QSettings& Settings) {
  Settings.beginGroup(PROFILES);
  QStringList names = Settings.childGroups();
  Settings.endGroup();
  names.sort(Qt::CaseInsensitive);
  return names;
}

bool IsProfileName(const QString& Name) {
  const QString name = Name.trimmed();
  return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

bool SaveProfile(const TForm1& Form, QSettings& Settings, const QString& Name) {
  if (!IsProfileName(Name)) return false;
  Settings.remove(GroupOf(Name));
  Settings.beginGroup(GroupOf(Name));
  SavePanelSettings(Form, Settings);
  Settings.endGroup();
  Settings.setValue(LAST_PROFILE, Name.trimmed());
  return true;
}

bool LoadProfile(TForm1& Form, QSettings& Settings, const QString& Name) {
  if (!IsProfileName(Name) || !ProfileNames(Settings).contains(Name.trimmed())) return false;
  Settings.beginGroup(GroupOf(Name));
  RestorePanelSettings(Form, Settings);
  Settings.endGroup();
  Settings.setValue(LAST_PROFILE, Name.trimmed());
  return true;
}

void DeleteProfile(QSettings& Settings, const QString& Name) {
  if (!IsProfileName(Name)) return;
  Settings.remove(GroupOf(Name));
  if (Settings.value(LAST_PROFILE).toString() == Name.trimmed()) Settings.remove(LAST_PROFILE);
}

QString LastProfile(QSettings& Settings) {
  const QString last = Settings.value(LAST_PROFILE).toString();
  return ProfileNames(Settings).contains(last) ? last : QString();
}
