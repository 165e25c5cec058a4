// The write and load of a file driven through the main window, offscreen,
// measured against the line as the client's transfers are. Built only with
// the program (SKARVEL_GUI); without it the figure is left out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/line_measure.h"

namespace skarvel::bench {

class TWindowBench {
public:
    // A window on its own simulator pacing the line at baud, on a freshly
    // formatted medium; null when the program is not built.
    static std::unique_ptr<TWindowBench> Create(uint32_t baud);
    virtual ~TWindowBench() = default;

    // Writes data as the PC file name (an 8.3 name, new on the medium) with
    // F7, "Проверять запись" checked as verify says (then each file written
    // is read back and compared), then loads it back with F6 and compares.
    // Each throws std::runtime_error when the transfer fails, asks the
    // operator anything, or ends with the progress bars anywhere but exactly
    // full.
    virtual TLineResult Put(const std::vector<uint8_t>& data, const std::string& name, bool verify) = 0;
    virtual TLineResult Get(const std::vector<uint8_t>& data, const std::string& name) = 0;
    // F3 on the medium's file name (written before): from the key until the
    // viewer shows its first screen; throws when the text shown is not the
    // file's beginning.
    virtual TLineResult View(const std::vector<uint8_t>& data, const std::string& name) = 0;
};

}  // namespace skarvel::bench
