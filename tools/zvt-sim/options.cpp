// zvt-sim's options: the table, the parser and the usage text made from it.
#include "tools/zvt-sim/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <type_traits>
#include <utility>
#include <variant>

namespace skarvel::sim {

namespace {

// What follows an option's name.
enum class TArg { None, Path, Number, Probability };

// Sets a number field; made per field by Number() below.
using TSetNumber = void (*)(TSimOptions&, uint64_t);

struct TOption {
    const char* Short;  // "-v", or nullptr
    const char* Long;   // "--verbose"
    TArg Arg;
    // The field it sets, the kind that fits Arg (none: --help).
    std::variant<std::monostate, bool TSimOptions::*, std::string TSimOptions::*, TSetNumber,
                 double TSimOptions::*>
        Field;
    uint64_t Min = 0, Max = 0;  // numbers only
    // The usage text's lines: the first beside the name, the others below it.
    const char* Help;
};

TOption Flag(const char* shortName, const char* longName, bool TSimOptions::*field, const char* help) {
    return {shortName, longName, TArg::None, field, 0, 0, help};
}

TOption Path(const char* name, std::string TSimOptions::*field, const char* help) {
    return {nullptr, name, TArg::Path, field, 0, 0, help};
}

template <auto Field, uint64_t Min, uint64_t Max>
TOption Number(const char* name, const char* help) {
    using T = std::remove_reference_t<decltype(std::declval<TSimOptions&>().*Field)>;
    static_assert(Min <= Max && Max <= std::numeric_limits<T>::max(), "the field holds every value allowed");
    const TSetNumber set = [](TSimOptions& out, uint64_t n) { out.*Field = static_cast<T>(n); };
    return {nullptr, name, TArg::Number, set, Min, Max, help};
}

// A number that may be given more than once; each adds to the list.
template <std::vector<uint64_t> TSimOptions::*Field, uint64_t Min>
TOption NumberList(const char* name, const char* help) {
    const TSetNumber add = [](TSimOptions& out, uint64_t n) { (out.*Field).push_back(n); };
    return {nullptr, name, TArg::Number, add, Min, UINT64_MAX, help};
}

TOption Probability(const char* name, double TSimOptions::*field, const char* help) {
    return {nullptr, name, TArg::Probability, field, 0, 0, help};
}

const TOption Options[] = {
    Path("--image", &TSimOptions::ImagePath,
         "medium image; created as 2 MiB of zeros when missing (or empty);\n"
         "an image of another size is used as it is. Every accepted sector\n"
         "write is in the file before its answer goes out.\n"
         "Without --image: a 2 MiB medium in memory."),
    Path("--link", &TSimOptions::LinkPath, "also make a symlink PATH to the pty (an old symlink is replaced)"),
    Path("--device", &TSimOptions::DevicePath, "serve a serial device (raw mode) instead of a pty"),
    // At least 1: a Baud of 0 after parsing means no --baud was given.
    Number<&TSimOptions::Baud, 1, 4'000'000>("--baud",
                                             "pty: pace bytes both ways at N baud (10 bits a byte);\n"
                                             "--device: the line rate (default 115200)"),
    Number<&TSimOptions::DeviceCode, 0, 255>("--device-code", "device code in the identify answer (default 0x2C)"),
    Number<&TSimOptions::BusyMs, 0, 60'000>("--busy-ms",
                                            "answer a write with Value 1 (busy), then with Value 0 after N ms"),
    Number<&TSimOptions::Seed, 0, UINT64_MAX>("--seed", "seed of the fault dice (default 1)"),
    Probability("--p-drop", &TSimOptions::PDrop, "probability that an answer is not sent"),
    Probability("--p-corrupt", &TSimOptions::PCorrupt,
                "probability of one flipped bit in an answer (frame or data block)"),
    Probability("--p-status", &TSimOptions::PStatus, "probability of a non-zero Status in an answer"),
    Probability("--p-late", &TSimOptions::PLate,
                "probability that an answer goes out late, after 460 to 900 ms\n"
                "(the PC side relies on late answers arriving within 1 s)"),
    NumberList<&TSimOptions::LateAnswers, 1>("--late-answer",
                                             "answer number N (from 1, every answer counts) goes out late;\n"
                                             "may be given more than once"),
    Number<&TSimOptions::LateMs, 0, 60'000>("--late-ms", "how late those answers go out (default 600)"),
    Flag(nullptr, "--silent", &TSimOptions::Silent, "never answer (writes are still stored)"),
    Flag("-v", "--verbose", &TSimOptions::Verbose, "log every frame to stderr"),
    {"-h", "--help", TArg::None, std::monostate{}, 0, 0, "show this text"},
};

// The help column: two blanks, the name and its value padded to this width.
constexpr size_t NameWidth = 19;

const char* ValueName(TArg arg) {
    switch (arg) {
    case TArg::Path: return "PATH";
    case TArg::Number: return "N";
    case TArg::Probability: return "P";
    case TArg::None: break;
    }
    return nullptr;
}

const TOption* Find(const std::string& name) {
    for (const TOption& o : Options)
        if (name == o.Long || (o.Short && name == o.Short)) return &o;
    return nullptr;
}

bool ParseUnsigned(const std::string& s, uint64_t max, uint64_t& out) {
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

bool ParseProbability(const std::string& s, double& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end == s.c_str() || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
    out = v;
    return true;
}

// Stores the value of option o, given on the command line as name.
bool Store(const TOption& o, const std::string& name, const std::string& value, TSimOptions& out,
           std::string& error) {
    switch (o.Arg) {
    case TArg::None:
        break;
    case TArg::Path:
        if (value.empty()) {
            error = "option " + name + " needs a non-empty path";
            return false;
        }
        out.*std::get<std::string TSimOptions::*>(o.Field) = value;
        break;
    case TArg::Number: {
        uint64_t n = 0;
        if (!ParseUnsigned(value, o.Max, n)) {
            error = "bad value for " + name + ": '" + value + "' (a number from 0 to " + std::to_string(o.Max) +
                    ")";
            return false;
        }
        if (n < o.Min) {
            error = "bad value for " + name + ": must be at least " + std::to_string(o.Min);
            return false;
        }
        std::get<TSetNumber>(o.Field)(out, n);
        break;
    }
    case TArg::Probability: {
        double p = 0;
        if (!ParseProbability(value, p)) {
            error = "bad value for " + name + ": '" + value + "' (a probability from 0 to 1)";
            return false;
        }
        out.*std::get<double TSimOptions::*>(o.Field) = p;
        break;
    }
    }
    return true;
}

}  // namespace

std::string UsageText() {
    std::string text = "Usage: zvt-sim [OPTIONS]\n"
                       "Plays the ZVT flash device on a pseudo-terminal (default) or a serial device.\n"
                       "On a pseudo-terminal the first line on stdout is \"PTY <path>\" (the port to open).\n"
                       "\n";
    for (const TOption& o : Options) {
        std::string name = o.Short ? std::string(o.Short) + ", " + o.Long : std::string(o.Long);
        if (const char* value = ValueName(o.Arg)) name += std::string(" ") + value;
        name.resize(std::max(name.size(), NameWidth), ' ');
        text += "  " + name;
        for (const char* line = o.Help; *line;) {
            const char* end = line;
            while (*end && *end != '\n') ++end;
            if (line != o.Help) text += std::string(2 + NameWidth, ' ');
            text.append(line, end) += '\n';
            line = *end ? end + 1 : end;
        }
    }
    return text + "\n"
                  "Faults never change what is stored: a write whose answer is lost has been stored.\n"
                  "Frames with a bad CRC get no answer; a partial frame is dropped after 100 ms of silence.\n"
                  "Sectors beyond the medium are answered with Status 2.\n"
                  "On SIGINT or SIGTERM the frames handled are counted on stdout, e.g.\n"
                  "\"identify 3, read 120, write 40, other 0, bad-crc 1\", and the exit code is 0.\n"
                  "Bad options or an unusable image or line: exit code 2.\n";
}

TParse ParseOptions(int argc, char** argv, TSimOptions& out, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;  // --option=value
        if (name.rfind("--", 0) == 0) {
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasValue = true;
            }
        }
        const TOption* o = Find(name);
        if (!o) {
            error = "unknown option '" + std::string(argv[i]) + "'";
            return TParse::Error;
        }
        if (std::holds_alternative<std::monostate>(o->Field)) return TParse::Help;
        if (o->Arg == TArg::None) {
            if (hasValue) {
                error = "option " + name + " takes no value";
                return TParse::Error;
            }
            out.*std::get<bool TSimOptions::*>(o->Field) = true;
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return TParse::Error;
            }
            value = argv[++i];
        }
        if (!Store(*o, name, value, out, error)) return TParse::Error;
    }
    if (!out.DevicePath.empty() && !out.LinkPath.empty()) {
        error = "--link applies to the pseudo-terminal only, not to --device";
        return TParse::Error;
    }
    if (!out.DevicePath.empty() && out.Baud == 0) out.Baud = DefaultDeviceBaud;
    return TParse::Run;
}

}  // namespace skarvel::sim
