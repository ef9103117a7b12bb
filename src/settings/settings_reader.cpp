#include "settings/settings_reader.h"

#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files/crt.h"
#include "platform/files/profile.h"
#include "res/strings.h"

namespace settings {

namespace {

constexpr const char* kTrue = "TRUE";
constexpr const char* kFalse = "FALSE";

QString InvalidValueMessage(const char* key) {
    return QString("The %1 does not have a valid value in your .cfg file - reseting to default")
        .arg(key);
}

bool IsFlagText(const char* text) {
    return std::strcmp(text, kTrue) == 0 || std::strcmp(text, kFalse) == 0;
}

bool IsValid(const OptionSpec& option, const char* text) {
    if (option.isFlag) {
        return IsFlagText(text);
    }
    const int value = platform::AtoI(text);
    return value >= option.min && value <= option.max;
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

const OptionSpec& OptionIn(OptionSlot slot) {
    for (const OptionSpec& option : kOptions) {
        if (option.slot == slot) {
            return option;
        }
    }
    return kOptions[0];  // every slot has its option
}

void ReadOptions(const std::string& path, OptionText& optionText, bool writeBack) {
    for (const OptionSpec& option : kOptions) {
        ReadKey(path, kSectionOptions, option.key, option.defaultText, optionText[option.slot],
                kOptionSlotSize, writeBack);
    }
}

OptionValues ValidateOptions(OptionText& optionText,
                             const std::function<void(const QString&)>& report) {
    for (int order = 0; order < kOptionCount; ++order) {
        for (const OptionSpec& option : kOptions) {
            if (option.checkOrder != order || IsValid(option, optionText[option.slot])) {
                continue;
            }
            if (option.reportsInvalid) {
                report(InvalidValueMessage(option.key));
            }
            ResetSlot(optionText[option.slot], option.defaultText);
        }
    }
    OptionValues values;
    for (const OptionSpec& option : kOptions) {
        const char* text = optionText[option.slot];
        values.*option.value =
            option.isFlag ? (std::strcmp(text, kTrue) == 0 ? 1 : 0) : platform::AtoI(text);
    }
    return values;
}

const char* FlagText(int flag) {
    return flag == 1 ? kTrue : kFalse;
}

std::string IntervalText(int minutes) {
    return std::to_string(minutes);
}

std::string OptionValueText(const OptionSpec& option, const OptionValues& values) {
    const int value = values.*option.value;
    return option.isFlag ? FlagText(value) : IntervalText(value);
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

void SettingsWrites::Write(const char* section, const char* key, const std::string& value) {
    if (!platform::WritePrivateProfileString(section, key, value, path_) && failure_ == 0) {
        failure_ = errno != 0 ? errno : EIO;
    }
}

QString SettingsWrites::FailureMessage() const {
    return QString("The settings could not be saved to %1: %2.")
        .arg(QString::fromStdString(path_), QString::fromLocal8Bit(std::strerror(failure_)));
}

}  // namespace settings
