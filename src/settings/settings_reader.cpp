#include "settings/settings_reader.h"

#include <QStringDecoder>
#include <cstdio>
#include <cstring>

#include "platform/crt.h"
#include "platform/profile.h"
#include "res/strings.h"

namespace settings {

namespace {

constexpr const char* kTrue = "TRUE";
constexpr const char* kFalse = "FALSE";
constexpr const char* kDefaultFlag = kFalse;
constexpr const char* kDefaultInterval = "5";
constexpr int kMinInterval = 1;
constexpr int kMaxInterval = 9999;

struct OptionKey {
    const char* name;
    OptionSlot slot;
    const char* defaultValue;
};

// The order in which the option keys are read and written.
constexpr OptionKey kOptionKeys[] = {
    {kKeySavePassword, kSlotSavePassword, kDefaultFlag},
    {kKeyAttemptReconnect, kSlotAttemptReconnect, kDefaultFlag},
    {kKeyMinimizeOnStartUp, kSlotMinimizeOnStartUp, kDefaultFlag},
    {kKeyConnectOnStartUp, kSlotConnectOnStartUp, kDefaultFlag},
    {kKeyRefreshInterval, kSlotRefreshInterval, kDefaultInterval},
    {kKeyConnectRetryInterval, kSlotConnectRetryInterval, kDefaultInterval},
};

// The order in which the flags are checked.
constexpr OptionKey kFlagChecks[] = {
    {kKeyMinimizeOnStartUp, kSlotMinimizeOnStartUp, kDefaultFlag},
    {kKeySavePassword, kSlotSavePassword, kDefaultFlag},
    {kKeyAttemptReconnect, kSlotAttemptReconnect, kDefaultFlag},
    {kKeyConnectOnStartUp, kSlotConnectOnStartUp, kDefaultFlag},
};

QString InvalidValueMessage(const char* key) {
    return QString("The %1 does not have a valid value in your .cfg file - reseting to default")
        .arg(key);
}

bool IsFlagText(const char* text) {
    return std::strcmp(text, kTrue) == 0 || std::strcmp(text, kFalse) == 0;
}

bool IsValidInterval(const char* text) {
    int value = platform::AtoI(text);
    return value >= kMinInterval && value <= kMaxInterval;
}

void ResetSlot(char* slot, const char* defaultValue) {
    std::snprintf(slot, kOptionSlotSize, "%s", defaultValue);
}

}  // namespace

void ReadKey(const std::string& path, const char* section, const char* key,
             const char* defaultValue, char* buf, int size, bool writeBack) {
    platform::GetPrivateProfileString(section, key, defaultValue, buf,
                                      static_cast<std::size_t>(size), path);
    if (writeBack) {
        platform::WritePrivateProfileString(section, key, buf, path);
    }
}

void ReadOptions(const std::string& path, OptionText& optionText, bool writeBack) {
    for (const OptionKey& key : kOptionKeys) {
        ReadKey(path, kSectionOptions, key.name, key.defaultValue, optionText[key.slot],
                kOptionSlotSize, writeBack);
    }
}

OptionValues ValidateOptions(OptionText& optionText,
                             const std::function<void(const QString&)>& report) {
    for (const OptionKey& flag : kFlagChecks) {
        if (!IsFlagText(optionText[flag.slot])) {
            report(InvalidValueMessage(flag.name));
            ResetSlot(optionText[flag.slot], kDefaultFlag);
        }
    }
    if (!IsValidInterval(optionText[kSlotRefreshInterval])) {
        report(InvalidValueMessage(kKeyRefreshInterval));
        ResetSlot(optionText[kSlotRefreshInterval], kDefaultInterval);
    }
    if (!IsValidInterval(optionText[kSlotConnectRetryInterval])) {
        ResetSlot(optionText[kSlotConnectRetryInterval], kDefaultInterval);
    }
    auto isTrue = [&optionText](OptionSlot slot) {
        return std::strcmp(optionText[slot], kTrue) == 0 ? 1 : 0;
    };
    OptionValues values;
    values.bSavePassword = isTrue(kSlotSavePassword);
    values.bAttemptReconnect = isTrue(kSlotAttemptReconnect);
    values.bConnectOnStartUp = isTrue(kSlotConnectOnStartUp);
    values.bMinimizeOnStartUp = isTrue(kSlotMinimizeOnStartUp);
    values.nConnectRetryInterval = platform::AtoI(optionText[kSlotConnectRetryInterval]);
    values.nRefreshInterval = platform::AtoI(optionText[kSlotRefreshInterval]);
    return values;
}

const char* FlagText(int flag) {
    return flag == 1 ? kTrue : kFalse;
}

std::string IntervalText(int minutes) {
    return std::to_string(minutes);
}

QString StoredText(const char* bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

std::string BytesToStore(const QString& text, const char* storedBytes) {
    return text == StoredText(storedBytes) ? std::string(storedBytes) : text.toStdString();
}

std::string ConfigPath(const std::string& directory) {
    if (directory.empty()) {
        return res::kConfigFileName;
    }
    return directory + "/" + res::kConfigFileName;
}

}  // namespace settings
