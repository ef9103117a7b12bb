#include "platform/files/ini_text.h"

#include <algorithm>
#include <cctype>

namespace platform {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// One line of the content: [begin, textEnd) is its text, [textEnd, end) its line end.
struct LineSpan {
    std::size_t begin;
    std::size_t textEnd;
    std::size_t end;
};

std::optional<LineSpan> NextLine(std::string_view content, std::size_t pos) {
    if (pos >= content.size()) {
        return std::nullopt;
    }
    std::size_t textEnd = content.find_first_of("\r\n", pos);
    if (textEnd == std::string_view::npos) {
        return LineSpan{pos, content.size(), content.size()};
    }
    bool crlf =
        content[textEnd] == '\r' && textEnd + 1 < content.size() && content[textEnd + 1] == '\n';
    return LineSpan{pos, textEnd, textEnd + (crlf ? 2 : 1)};
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

// Where a section and a key stand in the content, as byte offsets.
struct Location {
    bool section = false;
    std::size_t afterSection = 0;  // end of the section's last non-blank line
    std::optional<LineSpan> key;   // the key's line
};

Location Find(std::string_view content, std::string_view section, std::string_view key) {
    Location loc;
    for (auto line = NextLine(content, 0); line; line = NextLine(content, line->end)) {
        std::string_view text = content.substr(line->begin, line->textEnd - line->begin);
        if (line->begin == 0 && text.starts_with(kBom)) {
            text.remove_prefix(kBom.size());
        }
        if (auto name = SectionName(text)) {
            if (loc.section) {
                break;
            }
            if (EqualNoCase(*name, Trim(section))) {
                loc.section = true;
                loc.afterSection = line->end;
            }
            continue;
        }
        if (!loc.section) {
            continue;
        }
        if (!Trim(text).empty()) {
            loc.afterSection = line->end;
        }
        if (!loc.key) {
            auto name = KeyName(text);
            if (name && EqualNoCase(*name, Trim(key))) {
                loc.key = line;
            }
        }
    }
    return loc;
}

// The line end the file uses: that of its first line (LF for a file without one).
std::string LineEndStyle(std::string_view content) {
    auto first = NextLine(content, 0);
    if (!first || first->end == first->textEnd) {
        return "\n";
    }
    return std::string(content.substr(first->textEnd, first->end - first->textEnd));
}

bool EndsWithLineEnd(std::string_view content) {
    return !content.empty() && (content.back() == '\n' || content.back() == '\r');
}

}  // namespace

std::optional<std::string_view> IniValue(std::string_view content, std::string_view section,
                                         std::string_view key) {
    const Location loc = Find(content, section, key);
    if (!loc.key) {
        return std::nullopt;
    }
    return ValueOf(content.substr(loc.key->begin, loc.key->textEnd - loc.key->begin));
}

std::string IniWithValue(std::string_view old, const std::string& section, const std::string& key,
                         const std::string& value) {
    const std::string eol = LineEndStyle(old);
    std::string body(old);
    const bool unterminated = !old.empty() && !EndsWithLineEnd(old);
    if (unterminated) {
        body += eol;  // give the last line an end before adding lines
    }
    const Location loc = Find(body, section, key);
    if (loc.key) {
        std::string_view text(body.data() + loc.key->begin, loc.key->textEnd - loc.key->begin);
        std::size_t keyStart = text.find_first_not_of(" \t");
        std::string_view spelling = Trim(text.substr(0, text.find('=')));
        std::string line = std::string(text.substr(0, keyStart)).append(spelling) + "=" + value;
        body.replace(loc.key->begin, text.size(), line);
        // The last line is still last: a file that ended without a line end
        // keeps ending that way.
        if (unterminated) {
            body.resize(body.size() - eol.size());
        }
    } else if (loc.section) {
        body.insert(loc.afterSection, key + "=" + value + eol);
    } else {
        body += "[" + section + "]" + eol + key + "=" + value + eol;
    }
    return body;
}

}  // namespace platform
