// The transfer journal's lines, where it lies, and appending to it.
#include "core/journal.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/cp1251.h"
#include "core/disk_file.h"
#include "core/sha256.h"
#include "core/user_env.h"

namespace skarvel {

namespace {

constexpr size_t FieldCount = 9;
// A journal grows by a line per file; this bound only keeps a file that is
// no journal from filling the memory.
constexpr uint64_t JournalReadLimit = 256ull * 1024 * 1024;

void AppendEscaped(std::string& out, std::string_view field) {
    for (const char c : field) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default:
                if (b < 0x20 || b == 0x7F) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", b);
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view field, std::string& out) {
    out.clear();
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i >= field.size()) return false;
        switch (field[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 'x': {
                if (i + 2 >= field.size()) return false;
                const int hi = HexValue(field[i + 1]), lo = HexValue(field[i + 2]);
                if (hi < 0 || lo < 0) return false;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

// Code page 1251 capitals of a UTF-8 name, for comparing names as the
// medium does (its names are code page 1251).
std::string Capitals(const std::string& utf8) {
    std::string bytes = ToCp1251(utf8);
    for (char& c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 'a' && b <= 'z') c = static_cast<char>(b - 32);
        else if (b >= 0xE0) c = static_cast<char>(b - 32);
        else if (b == 0xB8) c = static_cast<char>(0xA8);  // ё
    }
    return bytes;
}

}  // namespace

const char* const JournalSuccess = "успешно";

const char* JournalOpName(TJournalOp op) {
    switch (op) {
        case TJournalOp::Write: return "запись";
        case TJournalOp::Load: return "загрузка";
        case TJournalOp::Delete: return "удаление";
        case TJournalOp::Replace: return "замена";
        case TJournalOp::Format: return "форматирование";
        case TJournalOp::Backup: return "сохранение образа";
        case TJournalOp::Restore: return "восстановление из образа";
    }
    return "?";
}

TJournalEntry PlainEntry(TJournalOp op, const std::string& port, const std::string& name, const std::string& pcPath,
                         const std::string& result) {
    TJournalEntry e;
    e.Port = port;
    e.Operation = JournalOpName(op);
    e.Name = name;
    e.PcPath = pcPath;
    e.Result = result;
    return e;
}

TJournalEntry MovedEntry(TJournalOp op, const std::string& port, const std::string& name, const std::string& pcPath,
                         const void* data, size_t size, const std::string& result) {
    TJournalEntry e = PlainEntry(op, port, name, pcPath, result);
    e.Size = size;
    e.Sha256 = TSha256::Of(data, size);
    return e;
}

std::string FormatJournalLine(const TJournalEntry& e) {
    const std::string size = std::to_string(e.Size);
    const std::string_view fields[FieldCount] = {e.Time,   e.User, e.Port,   e.Operation, e.Name,
                                                 e.PcPath, size,   e.Sha256, e.Result};
    std::string line;
    for (size_t i = 0; i < FieldCount; ++i) {
        if (i > 0) line += '\t';
        AppendEscaped(line, fields[i]);
    }
    line += '\n';
    return line;
}

bool ParseJournalLine(std::string_view line, TJournalEntry& e) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string fields[FieldCount];
    size_t n = 0;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        if (n == FieldCount || !Unescape(line.substr(start, tab == std::string_view::npos ? tab : tab - start), fields[n]))
            return false;
        ++n;
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (n != FieldCount || fields[6].empty() || fields[6].size() > 19) return false;
    uint64_t size = 0;
    for (const char c : fields[6]) {
        if (c < '0' || c > '9') return false;
        size = size * 10 + static_cast<uint64_t>(c - '0');
    }
    e.Time = std::move(fields[0]);
    e.User = std::move(fields[1]);
    e.Port = std::move(fields[2]);
    e.Operation = std::move(fields[3]);
    e.Name = std::move(fields[4]);
    e.PcPath = std::move(fields[5]);
    e.Size = size;
    e.Sha256 = std::move(fields[7]);
    e.Result = std::move(fields[8]);
    return true;
}

std::string DefaultJournalPath() {
    std::string named = EnvironmentValue("SKARVEL_JOURNAL");
    if (!named.empty()) return named;
    const std::string folder = StateFolder();
    if (folder.empty()) return {};
    return folder + PathSeparator() + "journal.log";
}

bool ReadJournal(const std::string& path, std::vector<TJournalEntry>& entries, size_t& damaged, std::string& error) {
    entries.clear();
    damaged = 0;
    if (!PathExists(path)) return true;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, JournalReadLimit, bytes, error)) return false;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        TJournalEntry e;
        if (ParseJournalLine(line, e)) entries.push_back(std::move(e));
        else ++damaged;
    }
    return true;
}

bool JournalNameIs(const TJournalEntry& entry, const std::string& name) {
    return Capitals(entry.Name) == Capitals(name);
}

TJournal::TJournal(std::string path) : path_(std::move(path)) {}

bool TJournal::Append(TJournalEntry entry) {
    entry.Time = LocalTimestamp(std::time(nullptr));
    entry.User = CurrentUserName();
    std::string error;
    bool ok = false;
    if (path_.empty()) {
        error = "не найдена папка для журнала (не заданы ни SKARVEL_JOURNAL, ни домашняя папка)";
    } else {
        try {
            ok = AppendLine(path_, FormatJournalLine(entry), error);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    if (!ok && !warned_.exchange(true) && OnWarning)
        OnWarning("журнал передач не записывается (" + error + "); работа продолжается без журнала");
    return ok;
}

}  // namespace skarvel
