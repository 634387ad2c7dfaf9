#include "shell/settings.h"

#include "shell/failure.h"

#include <QSettings>

#include <cerrno>
#include <memory>

namespace shell {

namespace {

QString& overridePath() {
    static QString path;
    return path;
}

std::unique_ptr<QSettings> openStore() {
    if (!overridePath().isEmpty()) {
        return std::make_unique<QSettings>(overridePath(), QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(kSettingsOrganization),
                                       QString::fromLatin1(kSettingsApplication));
}

Failure typeMismatch() {
    return Failure(QStringLiteral("Type mismatch"), kErrorTypeMismatch);
}

}  // namespace

QString ReadSetting(const QString& key, const QString& defaultValue) {
    auto store = openStore();
    const QVariant value = store->value(key);
    if (!value.isValid()) {
        return defaultValue;
    }
    return value.toString();
}

QString ReadSetting(Setting setting) {
    const SettingEntry& entry = SettingInfo(setting);
    const QString defaultValue = entry.computeDefault != nullptr
                                     ? entry.computeDefault()
                                     : QString::fromLatin1(entry.defaultText);
    return ReadSetting(QString::fromLatin1(entry.name), defaultValue);
}

QString ReadSetting(const QString& key, int defaultValue) {
    return ReadSetting(key, QString::number(defaultValue));
}

void WriteSetting(const QString& key, const QString& value) {
    auto store = openStore();
    store->setValue(key, value);
    store->sync();
    if (store->status() != QSettings::NoError) {
        throw Failure::fromErrno(store->status() == QSettings::AccessError ? EACCES : EIO);
    }
}

void WriteSetting(Setting setting, const QString& value) {
    WriteSetting(QString::fromLatin1(SettingInfo(setting).name), value);
}

bool ToBoolean(const QString& text) {
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok) {
        throw typeMismatch();
    }
    return number != 0.0;
}

int ToNumber(const QString& text) {
    bool ok = false;
    const int number = text.trimmed().toInt(&ok, 10);
    if (!ok) {
        throw typeMismatch();
    }
    return number;
}

QString BooleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

void UseSettingsFile(const QString& iniPath) {
    overridePath() = iniPath;
}

QString SettingsFilePath() {
    return openStore()->fileName();
}

}  // namespace shell
