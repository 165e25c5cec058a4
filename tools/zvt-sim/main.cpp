// zvt-sim: plays the ZVT flash device on a pseudo-terminal or a serial line,
// for tests, benchmarks, demonstrations and work without the hardware.
#include <cstdio>
#include <string>

#include "tools/zvt-sim/options.h"
#include "tools/zvt-sim/simulator.h"

int main(int argc, char** argv) {
    using namespace skarvel::sim;
    TSimOptions options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
    case TParse::Help:
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    case TParse::Error:
        std::fprintf(stderr, "zvt-sim: %s\nTry 'zvt-sim --help' for the options.\n", error.c_str());
        return 2;
    case TParse::Run:
        break;
    }
    return RunSimulator(options);
}
