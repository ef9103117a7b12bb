// The INI reader and writer on arbitrary files: no crash, nothing written past
// a buffer, and a value written is the value read back.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/files/profile.h"

namespace {

std::string FuzzFile() {
    static const std::string path = "/dev/shm/kestrome-fuzz-" + std::to_string(getpid()) + ".cfg";
    return path;
}

// A name the program could use: letters only, so that reading it back is exact.
std::string NameFrom(const uint8_t* data, std::size_t size, const char* fallback) {
    std::string name;
    for (std::size_t i = 0; i < size && i < 12; ++i) {
        name += static_cast<char>('a' + data[i] % 26);
    }
    return name.empty() ? fallback : name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string path = FuzzFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const std::size_t half = size / 2;
    const std::string section = NameFrom(data, half, "Main");
    const std::string key = NameFrom(data + half, size - half, "Login");

    char small[6];
    std::memset(small, 'X', sizeof small);
    const std::size_t len =
        platform::GetPrivateProfileString(section, key, "default", small, 5, path);
    if (len > 4 || small[len] != '\0' || small[5] != 'X') {
        __builtin_trap();
    }
    const std::string value = "v" + std::to_string(size);
    if (platform::WritePrivateProfileString(section, key, value, path)) {
        char back[64];
        platform::GetPrivateProfileString(section, key, "", back, sizeof back, path);
        if (value != back) {
            __builtin_trap();
        }
    }
    unlink(path.c_str());
    return 0;
}
