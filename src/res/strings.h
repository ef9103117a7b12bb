// The string table and the program's fixed texts.
#pragma once

namespace res {

inline constexpr const char* kAboutMenuText = "&About Kestrome...";                          // 101
inline constexpr const char* kSocketsInitFailed = "Windows sockets initialization failed.";  // 103
inline constexpr const char* kAgent = "Kestrome v1.2";
inline constexpr const char* kConfigFileName = "kestrome.cfg";
inline constexpr const char* kTrayMessageName = "Kestrome tray notification";

}  // namespace res
