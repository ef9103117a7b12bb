#include "platform/profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace platform {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// One line of the file: its text without the line end, and the line end itself.
struct Line {
    std::string text;
    std::string end;
};

std::optional<std::string> ReadWholeFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back({std::string(content.substr(pos)), ""});
            break;
        }
        std::size_t endLen =
            (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ? 2 : 1;
        lines.push_back({std::string(content.substr(pos, end - pos)),
                         std::string(content.substr(end, endLen))});
        pos = end + endLen;
    }
    return lines;
}

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t";
    std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view text) {
    std::string_view t = Trim(text);
    if (t.size() < 2 || t.front() != '[') {
        return std::nullopt;
    }
    std::size_t close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view text) {
    std::string_view t = Trim(text);
    return !t.empty() && t.front() == ';';
}

// The key of a "key=value" line, or nothing.
std::optional<std::string_view> KeyName(std::string_view text) {
    if (IsComment(text)) {
        return std::nullopt;
    }
    std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(text.substr(0, eq));
}

std::string_view ValueOf(std::string_view text) {
    std::string_view v = Trim(text.substr(text.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

// Where a section and a key stand in the file's lines.
struct Location {
    std::optional<std::size_t> section;  // index of the section's line
    std::size_t sectionEnd = 0;          // index after the section's last line
    std::optional<std::size_t> key;      // index of the key's line
};

Location Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location loc;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view text = lines[i].text;
        if (i == 0 && text.starts_with(kBom)) {
            text.remove_prefix(kBom.size());
        }
        if (auto name = SectionName(text)) {
            if (loc.section) {
                break;
            }
            if (EqualNoCase(*name, Trim(section))) {
                loc.section = i;
            }
            continue;
        }
        if (!loc.section) {
            continue;
        }
        loc.sectionEnd = i + 1;
        if (!loc.key) {
            auto name = KeyName(text);
            if (name && EqualNoCase(*name, Trim(key))) {
                loc.key = i;
            }
        }
    }
    if (loc.section && loc.sectionEnd == 0) {
        loc.sectionEnd = *loc.section + 1;
    }
    return loc;
}

// Length of the longest prefix of value that fits in max bytes without
// splitting a UTF-8 sequence.
std::size_t FittingLength(std::string_view value, std::size_t max) {
    if (value.size() <= max) {
        return value.size();
    }
    std::size_t len = max;
    while (len > 0 && (static_cast<unsigned char>(value[len]) & 0xC0) == 0x80) {
        --len;
    }
    return len;
}

std::string LineEndStyle(const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (!line.end.empty()) {
            return line.end;
        }
    }
    return "\n";
}

std::size_t LastNonBlankLine(const std::vector<Line>& lines, std::size_t from, std::size_t to) {
    std::size_t last = from;
    for (std::size_t i = from; i < to; ++i) {
        if (!Trim(lines[i].text).empty()) {
            last = i;
        }
    }
    return last;
}

std::string Join(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& line : lines) {
        out += line.text;
        out += line.end;
    }
    return out;
}

std::string WithValue(const std::vector<Line>& oldLines, const std::string& section,
                      const std::string& key, const std::string& value) {
    std::vector<Line> lines = oldLines;
    const std::string eol = LineEndStyle(lines);
    if (!lines.empty() && lines.back().end.empty()) {
        lines.back().end = eol;  // give the last line an end before adding lines
    }
    Location loc = Find(lines, section, key);
    if (loc.key) {
        Line& line = lines[*loc.key];
        std::size_t keyStart = line.text.find_first_not_of(" \t");
        std::string spelling(Trim(line.text.substr(0, line.text.find('='))));
        line.text = line.text.substr(0, keyStart) + spelling + "=" + value;
    } else if (loc.section) {
        std::size_t after = LastNonBlankLine(lines, *loc.section, loc.sectionEnd) + 1;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after), {key + "=" + value, eol});
    } else {
        lines.push_back({"[" + section + "]", eol});
        lines.push_back({key + "=" + value, eol});
    }
    // A file that ended without a line end keeps ending that way only when its
    // last line is still last and unchanged.
    if (!oldLines.empty() && oldLines.back().end.empty() && lines.size() == oldLines.size()) {
        lines.back().end.clear();
    }
    return Join(lines);
}

bool IsReadOnly(const std::string& path, const struct stat& st) {
    return access(path.c_str(), W_OK) != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporary file a process writes before renaming it over the file.
std::string TemporaryName(const std::string& path, pid_t pid) {
    return path + "." + std::to_string(pid) + ".tmp";
}

// Removes temporary files that writers killed before their rename left behind;
// those of running processes are theirs to finish.
void RemoveStaleTemporaries(const std::string& path) {
    const std::string dir = DirectoryOf(path);
    const std::string prefix = BaseName(path) + ".";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    while (dirent* entry = readdir(d)) {
        std::string_view name = entry->d_name;
        if (!name.starts_with(prefix) || !name.ends_with(".tmp")) {
            continue;
        }
        std::string_view pidText = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(std::string(pidText)));
        if (pid == getpid() || (kill(pid, 0) != 0 && errno == ESRCH)) {
            unlinkat(dirfd(d), entry->d_name, 0);
        }
    }
    closedir(d);
}

// Replaces the file's content atomically, with the given mode: the new content
// goes to a temporary file in the same folder, reaches the disk, and is renamed
// over the file, so a crash leaves either the old file or the new one.
bool ReplaceFile(const std::string& path, const std::string& content, mode_t mode) {
    RemoveStaleTemporaries(path);
    const std::string tmp = TemporaryName(path, getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, content) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(tmp.c_str(), path.c_str()) == 0) {
        SyncDirectory(DirectoryOf(path));
        return true;
    }
    unlink(tmp.c_str());
    return false;
}

}  // namespace

std::size_t GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, char* buf, std::size_t size,
                                    const std::string& path) {
    if (size == 0) {
        return 0;
    }
    std::string value = defaultValue;
    if (auto content = ReadWholeFile(path)) {
        std::vector<Line> lines = SplitLines(*content);
        Location loc = Find(lines, section, key);
        if (loc.key) {
            value = std::string(ValueOf(lines[*loc.key].text));
        }
    }
    std::size_t len = FittingLength(value, size - 1);
    std::memcpy(buf, value.data(), len);
    buf[len] = '\0';
    return len;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
    struct stat st {};
    bool exists = stat(path.c_str(), &st) == 0;
    if (exists && (!S_ISREG(st.st_mode) || IsReadOnly(path, st))) {
        return false;
    }
    std::string old;
    if (exists) {
        auto content = ReadWholeFile(path);
        if (!content) {
            return false;
        }
        old = std::move(*content);
    }
    std::string updated = WithValue(SplitLines(old), section, key, value);
    if (exists && updated == old) {
        return true;
    }
    return ReplaceFile(path, updated, exists ? (st.st_mode & 07777) : 0600);
}

}  // namespace platform
