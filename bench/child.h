// The zvt client run to its end with its peak memory, for the benchmark
// (zvt-sim itself is started by the tests' launcher, tests/sim_process.h).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace skarvel::bench {

struct TChildRun {
    int ExitCode = -1;       // minus the signal when one ended it
    long PeakRssKiB = 0;     // ru_maxrss of the child
    double Seconds = 0;
    std::string Output;      // stdout and stderr
};

// Runs program with args to its end.
TChildRun RunChild(const std::string& program, const std::vector<std::string>& args);

}  // namespace skarvel::bench
