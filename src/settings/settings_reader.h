// The settings file's keys, defaults, validation and messages. One reader
// serves both dialogs: the main dialog's writes every value straight back as it
// reads it, the Options dialog's only reads.
#pragma once

#include <QString>
#include <functional>
#include <string>

namespace settings {

inline constexpr const char* kSectionMain = "Main";
inline constexpr const char* kSectionOptions = "Options";
inline constexpr const char* kKeyLogin = "Login";
inline constexpr const char* kKeyPassword = "Password";
inline constexpr int kOptionSlotSize = 6;  // five characters and the NUL
inline constexpr int kOptionCount = 6;
inline constexpr int kCredentialSize = 128;

// Slots of the option texts, in memory order (not the order of reading).
enum OptionSlot {
    kSlotSavePassword = 0,
    kSlotAttemptReconnect = 1,
    kSlotConnectOnStartUp = 2,
    kSlotMinimizeOnStartUp = 3,
    kSlotRefreshInterval = 4,
    kSlotConnectRetryInterval = 5,
};

using OptionText = char[kOptionCount][kOptionSlotSize];

// The options as the dialogs hold them: flags are 0 or 1, intervals in minutes.
struct OptionValues {
    int bSavePassword = 0;
    int bAttemptReconnect = 0;
    int bConnectOnStartUp = 0;
    int bMinimizeOnStartUp = 0;
    int nRefreshInterval = 0;
    int nConnectRetryInterval = 0;
};

// One option of the [Options] section: everything the program knows of it.
struct OptionSpec {
    const char* key;
    OptionSlot slot;          // where its text is held
    bool isFlag;              // "TRUE" or "FALSE"; else an interval in minutes
    const char* defaultText;  // also what an invalid value is reset to
    int min;                  // an interval's range
    int max;
    int checkOrder;       // its place among the validity checks
    bool reportsInvalid;  // an invalid value is reported (else reset silently)
    int OptionValues::*value;
};

// The options, in the order of the file's keys (read and written in it).
inline constexpr OptionSpec kOptions[kOptionCount] = {
    {"SavePassword", kSlotSavePassword, true, "FALSE", 0, 1, 1, true, &OptionValues::bSavePassword},
    {"AttemptReconnect", kSlotAttemptReconnect, true, "FALSE", 0, 1, 2, true,
     &OptionValues::bAttemptReconnect},
    {"MinimizeOnStartUp", kSlotMinimizeOnStartUp, true, "FALSE", 0, 1, 0, true,
     &OptionValues::bMinimizeOnStartUp},
    {"ConnectOnStartUp", kSlotConnectOnStartUp, true, "FALSE", 0, 1, 3, true,
     &OptionValues::bConnectOnStartUp},
    {"RefreshInterval", kSlotRefreshInterval, false, "5", 1, 9999, 4, true,
     &OptionValues::nRefreshInterval},
    {"ConnectRetryInterval", kSlotConnectRetryInterval, false, "5", 1, 9999, 5, false,
     &OptionValues::nConnectRetryInterval},
};

// The options as a dialog's members, under the names its code knows them by.
struct OptionMembers {
    OptionMembers() = default;
    OptionMembers(const OptionMembers&) = delete;
    OptionMembers& operator=(const OptionMembers&) = delete;

    OptionValues m_options;
    int& m_bSavePassword = m_options.bSavePassword;
    int& m_bAttemptReconnect = m_options.bAttemptReconnect;
    int& m_bConnectOnStartUp = m_options.bConnectOnStartUp;
    int& m_bMinimizeOnStartUp = m_options.bMinimizeOnStartUp;
    int& m_nRefreshInterval = m_options.nRefreshInterval;
    int& m_nConnectRetryInterval = m_options.nConnectRetryInterval;
};

// The option held in slot.
const OptionSpec& OptionIn(OptionSlot slot);

// Reads one key into buf (the default when absent, cut to size - 1) and, when
// writeBack is set, writes what was read straight back to the file.
void ReadKey(const std::string& path, const char* section, const char* key,
             const char* defaultValue, char* buf, int size, bool writeBack);

// Reads the six option keys into their optionText, in the file's key order.
void ReadOptions(const std::string& path, OptionText& optionText, bool writeBack);

// Checks the optionText, reporting each invalid value through report and resetting
// its slot to the default, then returns the values the optionText hold.
OptionValues ValidateOptions(OptionText& optionText,
                             const std::function<void(const QString&)>& report);

// The value written for an option flag and an interval, and for an option as
// the values hold it.
const char* FlagText(int flag);
std::string IntervalText(int minutes);
std::string OptionValueText(const OptionSpec& option, const OptionValues& values);

// A stored login or password as text: UTF-8 when its bytes are, else one
// character per byte (Latin-1), so that a value written in an 8-bit code page
// shows and goes back unchanged.
QString StoredText(const char* bytes);
// The bytes to store for a field's text: the stored bytes themselves while the
// text is still what they show, else the text in UTF-8.
std::string BytesToStore(const QString& text, const char* storedBytes);

// The settings file's path for a working directory; relative to the current
// directory when that directory is unknown (an empty text).
std::string ConfigPath(const std::string& directory);

// The writes of one user action (Save Settings, Quit, Connect): it remembers
// why the first failed write failed, so that the user is told once.
class SettingsWrites {
public:
    explicit SettingsWrites(const std::string& path) : path_(path) {}
    void Write(const char* section, const char* key, const std::string& value);
    bool Failed() const { return failure_ != 0; }
    // Names the file and the reason.
    QString FailureMessage() const;

private:
    const std::string& path_;
    int failure_ = 0;  // errno of the first failed write
};

}  // namespace settings
