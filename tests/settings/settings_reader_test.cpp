#include "settings/settings_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/files/crt.h"
#include "support/messages.h"
#include "support/temp_dir.h"

using namespace settings;
using testsupport::InvalidValueMessage;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct Validation {
    OptionValues values;
    std::vector<QString> messages;
};

Validation Validate(const std::string& optionsSection) {
    TempDir dir;
    std::string path = dir.File("kestrome.cfg");
    WriteFile(path, "[Options]\n" + optionsSection);
    OptionText text{};
    ReadOptions(path, text, false);
    Validation v;
    v.values = ValidateOptions(text, [&](const QString& m) { v.messages.push_back(m); });
    return v;
}

TEST(SettingsReaderTest, DefaultsAreValidAndSilent) {
    Validation v = Validate("");
    EXPECT_TRUE(v.messages.empty());
    EXPECT_EQ(v.values.bSavePassword, 0);
    EXPECT_EQ(v.values.nRefreshInterval, 5);
    EXPECT_EQ(v.values.nConnectRetryInterval, 5);
}

TEST(SettingsReaderTest, AllSixInvalidGiveFiveMessagesInCheckOrder) {
    Validation v = Validate(
        "SavePassword=true\nAttemptReconnect=yes\nMinimizeOnStartUp=1\nConnectOnStartUp=\n"
        "RefreshInterval=0\nConnectRetryInterval=10000\n");
    EXPECT_EQ(v.messages,
              (std::vector<QString>{
                  InvalidValueMessage("MinimizeOnStartUp"), InvalidValueMessage("SavePassword"),
                  InvalidValueMessage("AttemptReconnect"), InvalidValueMessage("ConnectOnStartUp"),
                  InvalidValueMessage("RefreshInterval")}));
    EXPECT_EQ(v.values.bSavePassword, 0);
    EXPECT_EQ(v.values.nRefreshInterval, 5);
    EXPECT_EQ(v.values.nConnectRetryInterval, 5);
}

TEST(SettingsReaderTest, FlagsAreByteExactAndCutToFiveCharacters) {
    Validation v = Validate(
        "SavePassword=TRUE\nAttemptReconnect=FALSEhood\nMinimizeOnStartUp=TRUEX\n"
        "ConnectOnStartUp=TRUE\n");
    EXPECT_EQ(v.messages, (std::vector<QString>{InvalidValueMessage("MinimizeOnStartUp")}));
    EXPECT_EQ(v.values.bSavePassword, 1);
    EXPECT_EQ(v.values.bAttemptReconnect, 0);
    EXPECT_EQ(v.values.bMinimizeOnStartUp, 0);
    EXPECT_EQ(v.values.bConnectOnStartUp, 1);
}

TEST(SettingsReaderTest, IntervalsReadLikeAtoiWithinOneTo9999) {
    EXPECT_EQ(Validate("RefreshInterval=1\n").values.nRefreshInterval, 1);
    EXPECT_EQ(Validate("RefreshInterval=9999\n").values.nRefreshInterval, 9999);
    EXPECT_EQ(Validate("RefreshInterval=12abc\n").values.nRefreshInterval, 12);
    Validation cut = Validate("RefreshInterval=123456\n");  // read as 12345
    EXPECT_EQ(cut.values.nRefreshInterval, 5);
    EXPECT_EQ(cut.messages, (std::vector<QString>{InvalidValueMessage("RefreshInterval")}));
    Validation retry = Validate("ConnectRetryInterval=0\n");
    EXPECT_EQ(retry.values.nConnectRetryInterval, 5);
    EXPECT_TRUE(retry.messages.empty()) << "the retry interval is reset silently";
}

TEST(SettingsReaderTest, ReadingWithoutWriteBackLeavesTheFileAlone) {
    TempDir dir;
    std::string path = dir.File("kestrome.cfg");
    OptionText text{};
    ReadOptions(path, text, false);
    EXPECT_FALSE(testsupport::FileExists(path));
    ReadOptions(path, text, true);
    EXPECT_EQ(ReadFile(path),
              "[Options]\nSavePassword=FALSE\nAttemptReconnect=FALSE\nMinimizeOnStartUp=FALSE\n"
              "ConnectOnStartUp=FALSE\nRefreshInterval=5\nConnectRetryInterval=5\n");
    EXPECT_STREQ(text[kSlotConnectOnStartUp], "FALSE");
    EXPECT_STREQ(text[kSlotRefreshInterval], "5");
}

TEST(SettingsReaderTest, ValueTextsAsWritten) {
    EXPECT_STREQ(FlagText(1), "TRUE");
    EXPECT_STREQ(FlagText(0), "FALSE");
    EXPECT_STREQ(FlagText(2), "FALSE");
    EXPECT_EQ(IntervalText(-42), "-42");
    EXPECT_EQ(IntervalText(123456789), "123456789");
}

TEST(AtoITest, ReadsLikeTheCLibrary) {
    EXPECT_EQ(platform::AtoI(" \t+12xyz"), 12);
    EXPECT_EQ(platform::AtoI("-1a"), -1);
    EXPECT_EQ(platform::AtoI("abc"), 0);
    EXPECT_EQ(platform::AtoI(""), 0);
    EXPECT_EQ(platform::AtoI("- 5"), 0);
    EXPECT_EQ(platform::AtoI("99999999999999"), 2147483647);
}

}  // namespace
