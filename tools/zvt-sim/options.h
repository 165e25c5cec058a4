// zvt-sim's command line: what it sets, how it is read, and the usage text.
//
// The options are one table (options.cpp): each row names an option, the
// kind of value it takes, the field it sets and its help text; the parser
// and the usage text are both made from it, so a new option is one row.
//
// Threads: the simulator has one thread; these are plain functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/zvt_drv.h"

namespace skarvel::sim {

struct TSimOptions {
    std::string ImagePath;     // empty: a 2 MiB medium in memory
    std::string LinkPath;      // symlink to the pty's slave
    std::string DevicePath;    // serve a serial device instead of a pty
    uint32_t Baud = 0;         // 0: no pacing
    uint8_t DeviceCode = ZvtDeviceCode;
    uint32_t BusyMs = 0;
    uint64_t Seed = 1;
    double PDrop = 0, PCorrupt = 0, PStatus = 0, PLate = 0;
    // A fault at a known place: these answers (counted from 1 over every
    // answer sent) go out LateMs late.
    std::vector<uint64_t> LateAnswers;
    uint32_t LateMs = 600;
    bool Silent = false;
    bool Verbose = false;
};

// The line rate of a serial device served without --baud.
constexpr uint32_t DefaultDeviceBaud = 115200;

enum class TParse { Run, Help, Error };
// Parses the command line (argv[0] is the program). On Error, error says why.
TParse ParseOptions(int argc, char** argv, TSimOptions& out, std::string& error);
std::string UsageText();

}  // namespace skarvel::sim
