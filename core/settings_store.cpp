// The settings store's INI reading, the same on every platform.
#include "core/settings_store.h"

#include <cctype>
#include <sstream>

namespace skarvel {

namespace {

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return std::string();
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

void AppendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A character after a backslash; i is at the backslash and ends on the last
// character of the escape.
void Unescape(const std::string& s, size_t& i, std::string& out) {
    if (i + 1 >= s.size()) return;
    const char c = s[++i];
    switch (c) {
        case 'a': out += '\a'; return;
        case 'b': out += '\b'; return;
        case 'f': out += '\f'; return;
        case 'n': out += '\n'; return;
        case 'r': out += '\r'; return;
        case 't': out += '\t'; return;
        case 'v': out += '\v'; return;
        case 'x': {
            // A character written by its code: as many hex digits as follow
            // (QSettings escapes a digit that follows such a code too).
            unsigned long cp = 0;
            size_t n = 0;
            while (i + 1 < s.size() && n < 6 && std::isxdigit(static_cast<unsigned char>(s[i + 1]))) {
                const char h = static_cast<char>(std::tolower(static_cast<unsigned char>(s[++i])));
                cp = cp * 16 + static_cast<unsigned long>(h <= '9' ? h - '0' : h - 'a' + 10);
                ++n;
            }
            AppendUtf8(out, cp);
            return;
        }
        default:
            if (c >= '0' && c <= '7') {
                unsigned long cp = 0;
                size_t n = 0;
                while (i + n < s.size() && n < 3 && s[i + n] >= '0' && s[i + n] <= '7')
                    cp = cp * 8 + static_cast<unsigned long>(s[i + n++] - '0');
                i += n - 1;
                AppendUtf8(out, cp);
                return;
            }
            out += c;  // \\ \" \' \? and anything else stand for themselves
    }
}

// A value as QSettings writes a text: blanks around it do not count, quotes
// group (a text with , ; = or outer blanks is quoted), backslashes escape.
std::string ParseValue(const std::string& raw) {
    const std::string s = Trim(raw);
    std::string out;
    bool quoted = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"') quoted = !quoted;
        else if (s[i] == '\\') Unescape(s, i, out);
        else out += s[i];
    }
    // A text that begins with '@' is written with a second one, so that it
    // is not taken for one of QSettings' own types (@ByteArray, @Variant).
    if (out.rfind("@@", 0) == 0) out.erase(0, 1);
    return out;
}

}  // namespace

bool IniValue(const std::string& text, const std::string& key, std::string& value) {
    const size_t slash = key.rfind('/');
    const std::string group = slash == std::string::npos ? "General" : key.substr(0, slash);
    const std::string name = slash == std::string::npos ? key : key.substr(slash + 1);
    std::istringstream in(text);
    std::string section;
    bool found = false;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || section != group || Trim(line.substr(0, eq)) != name) continue;
        value = ParseValue(line.substr(eq + 1));  // the last of equal keys counts, as for QSettings
        found = true;
    }
    return found;
}

}  // namespace skarvel
