#pragma once
// The settings store: per-user texts under organisation "Tremlow" and
// application "Orvaline" (on Linux, $XDG_CONFIG_HOME/Tremlow/Orvaline.conf).
// Values are read when needed and written the moment they change; nothing is
// cached. This is the only code that touches QSettings.

#include "shell/paths.h"

#include <QString>

#include <array>
#include <cstddef>

namespace shell {

// Every value the window keeps between runs.
enum class Setting {
    Option1,
    Option2,
    Text1,
    LastFolderDot,
    LastFolder,
    Extension,
    Header,
    Attachments,
    Format
};

// One row of the settings table: the name the value is stored under and the
// text a missing value reads as. A default that depends on the machine is
// worked out by `computeDefault` on each read instead of `defaultText`.
struct SettingEntry {
    Setting setting;
    const char* name;
    const char* defaultText;
    QString (*computeDefault)();
};

// The one place the keys and their defaults are written down; rows are in
// the order of Setting.
inline constexpr std::array<SettingEntry, 9> kSettings{{
    {Setting::Option1, "Option1", "1", nullptr},  // chosen
    {Setting::Option2, "Option2", "0", nullptr},  // not chosen
    {Setting::Text1, "Text1", nullptr, &DesktopFolder},
    {Setting::LastFolderDot, "LastFolderDot", "", nullptr},
    {Setting::LastFolder, "LastFolder", "", nullptr},
    {Setting::Extension, "Extension", "msg", nullptr},
    {Setting::Header, "Header", "False", nullptr},            // images without the header block
    {Setting::Attachments, "Attachments", "False", nullptr},  // the body's pages only
    {Setting::Format, "Format", "JPEG", nullptr},             // "JPEG", "PDF" or "TIFF"
}};

constexpr const SettingEntry& SettingInfo(Setting setting) {
    return kSettings[static_cast<std::size_t>(setting)];
}

static_assert(
    [] {
        for (std::size_t i = 0; i < kSettings.size(); ++i) {
            // (Whether a row's default is a text or computed is checked by the
            // settings test: a function's address is no constant expression
            // under the sanitizers.)
            if (kSettings[i].setting != static_cast<Setting>(i)) {
                return false;
            }
        }
        return true;
    }(),
    "kSettings rows must follow Setting");

// The stored names as plain texts, for code that addresses the store by name.
namespace key {
inline constexpr const char* kOption1 = SettingInfo(Setting::Option1).name;
inline constexpr const char* kOption2 = SettingInfo(Setting::Option2).name;
inline constexpr const char* kText1 = SettingInfo(Setting::Text1).name;
inline constexpr const char* kLastFolderDot = SettingInfo(Setting::LastFolderDot).name;
inline constexpr const char* kLastFolder = SettingInfo(Setting::LastFolder).name;
inline constexpr const char* kExtension = SettingInfo(Setting::Extension).name;
inline constexpr const char* kHeader = SettingInfo(Setting::Header).name;
inline constexpr const char* kAttachments = SettingInfo(Setting::Attachments).name;
inline constexpr const char* kFormat = SettingInfo(Setting::Format).name;
}  // namespace key

inline constexpr const char* kSettingsOrganization = "Tremlow";
inline constexpr const char* kSettingsApplication = "Orvaline";

// The stored text of `setting`, or its default from kSettings when it is
// missing. A computed default is worked out before the store is read, even
// when a value is stored, so it throws whatever it throws either way (Text1:
// no desktop folder).
QString ReadSetting(Setting setting);
// The stored text of `key`, or the default's text form when the key is missing.
QString ReadSetting(const QString& key, const QString& defaultValue);
QString ReadSetting(const QString& key, int defaultValue);

// Stores `value` as the text of `setting` / `key`. Throws Failure when the
// store cannot be written.
void WriteSetting(Setting setting, const QString& value);
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
