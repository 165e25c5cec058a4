// What a serial port call threw, as one value to compare: the tests of the
// port on every platform check the error code, the system's error and the
// text the user sees.
#pragma once

#include <ostream>
#include <string>

#include "link/cport.h"

namespace skarvel::test {

struct ComFailure {
    int Code = -1;  // -1: the call threw nothing
    int WinCode = 0;
    std::string Text;
    bool operator==(const ComFailure&) const = default;
    friend std::ostream& operator<<(std::ostream& o, const ComFailure& f) {
        return o << "{" << f.Code << ", " << f.WinCode << ", \"" << f.Text << "\"}";
    }
};

template <class F>
ComFailure FailureOf(F&& call) {
    try {
        call();
    } catch (const EComPort& e) {
        return {e.Code(), e.WinCode(), e.what()};
    }
    return {};
}

}  // namespace skarvel::test
