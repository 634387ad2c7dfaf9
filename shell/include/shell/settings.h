#pragma once
// The settings store: per-user texts under organisation "Tremlow" and
// application "Orvaline" (on Linux, $XDG_CONFIG_HOME/Tremlow/Orvaline.conf).
// Values are read when needed and written the moment they change; nothing is
// cached. This is the only code that touches QSettings.

#include <QString>

namespace shell {

// Keys and their defaults.
namespace key {
inline constexpr const char* kOption1 = "Option1";              // default 1 (chosen)
inline constexpr const char* kOption2 = "Option2";              // default 0 (not chosen)
inline constexpr const char* kText1 = "Text1";                  // default DesktopFolder()
inline constexpr const char* kLastFolderDot = "LastFolderDot";  // default ""
inline constexpr const char* kLastFolder = "LastFolder";        // default ""
inline constexpr const char* kExtension = "Extension";          // default "msg"
}  // namespace key

inline constexpr const char* kSettingsOrganization = "Tremlow";
inline constexpr const char* kSettingsApplication = "Orvaline";

// The stored text of `key`, or the default's text form when the key is missing.
QString ReadSetting(const QString& key, const QString& defaultValue);
QString ReadSetting(const QString& key, int defaultValue);

// Stores `value` as the text of `key`. Throws Failure when the store cannot
// be written.
void WriteSetting(const QString& key, const QString& value);

// "True"/"False" in any letter case, or a decimal number (0 false, any other
// true). Any other text throws Failure (type mismatch).
bool ToBoolean(const QString& text);
// A decimal number. Any other text throws Failure (type mismatch).
int ToNumber(const QString& text);
// "True" or "False".
QString BooleanText(bool value);

// Points the store at an INI file instead of the per-user location (tests).
// An empty path restores the per-user location.
void UseSettingsFile(const QString& iniPath);
// The file the store reads and writes now.
QString SettingsFilePath();

}  // namespace shell
