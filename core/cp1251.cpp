#include "core/cp1251.h"

#include <cstdint>

namespace skarvel {
namespace {

// Unicode code points of the bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F.
constexpr uint16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

uint32_t CodePoint(unsigned char b) {
    if (b < 0x80) return b;
    if (b >= 0xC0) return 0x0410u + (b - 0xC0u);
    const uint16_t cp = kHigh[b - 0x80];
    return cp ? cp : 0xFFFDu;
}

void AppendUtf8(std::string& s, uint32_t cp) {
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int ByteOf(uint32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(0xC0 + (cp - 0x0410));
    for (int i = 0; i < 64; ++i)
        if (kHigh[i] == cp) return 0x80 + i;
    return -1;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view in) {
    std::string out;
    out.reserve(in.size() * 2);
    for (char c : in) AppendUtf8(out, CodePoint(static_cast<unsigned char>(c)));
    return out;
}

bool Utf8ToCp1251(std::string_view in, std::string& out) {
    out.clear();
    size_t i = 0;
    while (i < in.size()) {
        const auto b0 = static_cast<unsigned char>(in[i]);
        uint32_t cp;
        size_t len;
        if (b0 < 0x80) {
            cp = b0;
            len = 1;
        } else if ((b0 & 0xE0) == 0xC0) {
            cp = b0 & 0x1Fu;
            len = 2;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = b0 & 0x0Fu;
            len = 3;
        } else if ((b0 & 0xF8) == 0xF0) {
            cp = b0 & 0x07u;
            len = 4;
        } else {
            return false;
        }
        if (i + len > in.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(in[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3Fu);
        }
        const int byte = ByteOf(cp);
        if (byte < 0) return false;
        out += static_cast<char>(byte);
        i += len;
    }
    return true;
}

std::string ToCp1251(std::string_view utf8) {
    std::string out;
    if (Utf8ToCp1251(utf8, out)) return out;
    // Convert what can be converted, one character at a time.
    std::string result;
    size_t i = 0;
    while (i < utf8.size()) {
        size_t len = 1;
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        if ((b0 & 0xE0) == 0xC0) len = 2;
        else if ((b0 & 0xF0) == 0xE0) len = 3;
        else if ((b0 & 0xF8) == 0xF0) len = 4;
        std::string one;
        if (Utf8ToCp1251(utf8.substr(i, len), one))
            result += one;
        else
            result += '?';
        i += len;
    }
    return result;
}

bool IsEscapedNameByte(unsigned char b) { return b < 0x20 || b == 0x7F || b == 0x98 || b == '\\'; }

std::string MediumNameToUtf8(std::string_view in) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(in.size() * 2);
    for (char c : in) {
        const auto b = static_cast<unsigned char>(c);
        if (IsEscapedNameByte(b)) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        } else {
            AppendUtf8(out, CodePoint(b));
        }
    }
    return out;
}

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

bool Utf8ToMediumName(std::string_view in, std::string& out) {
    out.clear();
    size_t from = 0;
    for (;;) {
        const size_t slash = in.find('\\', from);
        std::string part;
        if (!Utf8ToCp1251(in.substr(from, slash == std::string_view::npos ? std::string_view::npos : slash - from),
                          part))
            return false;
        out += part;
        if (slash == std::string_view::npos) return true;
        if (in.size() < slash + 4 || (in[slash + 1] != 'x' && in[slash + 1] != 'X')) return false;
        const int hi = HexDigit(in[slash + 2]), lo = HexDigit(in[slash + 3]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        from = slash + 4;
    }
}

bool HasEscapedNameBytes(std::string_view cp1251) {
    for (char c : cp1251)
        if (IsEscapedNameByte(static_cast<unsigned char>(c))) return true;
    return false;
}

}  // namespace skarvel
