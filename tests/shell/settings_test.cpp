#include <shell/failure.h>
#include <shell/paths.h>
#include <shell/settings.h>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <qt_print.h>

namespace {

using namespace shell;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        UseSettingsFile(m_dir.filePath(QStringLiteral("settings.conf")));
    }
    void TearDown() override { UseSettingsFile({}); }

    QTemporaryDir m_dir;
};

TEST_F(SettingsTest, MissingKeysGiveTheirDefaultsAsText) {
    EXPECT_EQ(ReadSetting(QString::fromLatin1(key::kOption1), 1), QStringLiteral("1"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(key::kOption2), 0), QStringLiteral("0"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(key::kExtension), QStringLiteral("msg")),
              QStringLiteral("msg"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(key::kLastFolder), QString()), QString());
    EXPECT_TRUE(ToBoolean(ReadSetting(QString::fromLatin1(key::kOption1), 1)));
    EXPECT_FALSE(ToBoolean(ReadSetting(QString::fromLatin1(key::kOption2), 0)));
}

// Stores already on disk hold these names; a renamed key loses the user's value.
TEST_F(SettingsTest, TableNamesAndDefaultsOfAnEmptyStore) {
    const struct {
        Setting setting;
        const char* name;
        QString value;
    } expected[] = {
        {Setting::Option1, "Option1", QStringLiteral("1")},
        {Setting::Option2, "Option2", QStringLiteral("0")},
        {Setting::Text1, "Text1", DesktopFolder()},
        {Setting::LastFolderDot, "LastFolderDot", QString()},
        {Setting::LastFolder, "LastFolder", QString()},
        {Setting::Extension, "Extension", QStringLiteral("msg")},
        {Setting::Header, "Header", QStringLiteral("False")},
        {Setting::Attachments, "Attachments", QStringLiteral("False")},
        {Setting::Format, "Format", QStringLiteral("JPEG")},
    };
    ASSERT_EQ(std::size(expected), kSettings.size());
    for (const auto& row : expected) {
        EXPECT_STREQ(SettingInfo(row.setting).name, row.name);
        EXPECT_EQ(ReadSetting(row.setting), row.value) << row.name;
    }
}

TEST_F(SettingsTest, TextsRoundTripExactly) {
    const QString samples[] = {
        QStringLiteral("/home/u/out/   "),  // trailing blanks
        QStringLiteral("  leading"),        // leading blanks
        QStringLiteral("a, b, c"),          // commas (INI lists)
        QStringLiteral("C:\\Mail\\Out\\"),  // backslashes
        QStringLiteral("\"quoted\" ; semicolon # hash = equals"),
        QStringLiteral("Ünïcödé 漢字"),
        QStringLiteral("true"),  // stays text, not a Boolean
        QString(),               // an empty text is still stored
    };
    for (const QString& value : samples) {
        WriteSetting(QString::fromLatin1(key::kText1), value);
        EXPECT_EQ(ReadSetting(QString::fromLatin1(key::kText1), QStringLiteral("default")), value)
            << value.toStdString();
    }
}

TEST_F(SettingsTest, LaterWriteReplacesEarlierAndKeysAreIndependent) {
    WriteSetting(QString::fromLatin1(key::kOption1), QStringLiteral("True"));
    WriteSetting(QString::fromLatin1(key::kOption2), QStringLiteral("False"));
    WriteSetting(QString::fromLatin1(key::kOption1), QStringLiteral("False"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(key::kOption1), 1), QStringLiteral("False"));
    EXPECT_EQ(ReadSetting(QString::fromLatin1(key::kOption2), 0), QStringLiteral("False"));
}

TEST(SettingsConversion, BooleansInAnyCaseAndNumbers) {
    EXPECT_TRUE(ToBoolean(QStringLiteral("True")));
    EXPECT_TRUE(ToBoolean(QStringLiteral("TRUE")));
    EXPECT_FALSE(ToBoolean(QStringLiteral("false")));
    EXPECT_FALSE(ToBoolean(QStringLiteral("FaLsE")));
    EXPECT_FALSE(ToBoolean(QStringLiteral("0")));
    EXPECT_TRUE(ToBoolean(QStringLiteral("1")));
    EXPECT_TRUE(ToBoolean(QStringLiteral("-7")));
    EXPECT_EQ(BooleanText(true), QStringLiteral("True"));
    EXPECT_EQ(BooleanText(false), QStringLiteral("False"));
    EXPECT_EQ(ToNumber(QStringLiteral("42")), 42);
}

TEST(SettingsConversion, OtherTextsAreTypeMismatches) {
    for (const char* text : {"maybe", "", "yes", "Truex"}) {
        try {
            ToBoolean(QString::fromLatin1(text));
            ADD_FAILURE() << "accepted " << text;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.description(), QStringLiteral("Type mismatch"));
            EXPECT_EQ(failure.number(), kErrorTypeMismatch);
        }
    }
    EXPECT_THROW(ToNumber(QStringLiteral("12ab")), Failure);
    EXPECT_THROW(ToNumber(QStringLiteral("abc")), Failure);
}

TEST(SettingsLocation, PerUserFileUnderTremlowOrvaline) {
    UseSettingsFile({});
    const QString path = SettingsFilePath();
    EXPECT_TRUE(path.endsWith(QStringLiteral("/Tremlow/Orvaline.conf"))) << path.toStdString();
}

TEST(SettingsWrite, UnwritableStoreIsAFailure) {
    QTemporaryDir dir;
    const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    // The store's folder is a file, so the store cannot be written, even by root.
    UseSettingsFile(blocker + QStringLiteral("/settings.conf"));
    EXPECT_THROW(WriteSetting(QString::fromLatin1(key::kText1), QStringLiteral("x")), Failure);
    UseSettingsFile({});
}

}  // namespace
