// The command line of zvt: options, the command and its operands.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "tools/zvt/client.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/console.h"
#include "tools/zvt/interrupt.h"
#include "tools/zvt/zvt_main.h"

namespace skarvel {

using namespace zvtcmd;

namespace {

const char* const kUsage =
    "usage: zvt [--port NAME] [--baud N] COMMAND [ARGS]\n"
    "\n"
    "  info                 identify the device and mount the medium; show its geometry\n"
    "  ls                   list the files on the medium (name and size in bytes)\n"
    "  put FILE...          write PC files onto the medium under their 8.3 names\n"
    "    --verify           read each file back after writing it and compare\n"
    "  get NAME... [-C DIR] load files from the medium into DIR (default: current folder)\n"
    "  rm NAME...           delete files on the medium\n"
    "  format --yes         format the medium (destroys every file on it)\n"
    "  check [--repair]     check the boot sector, FAT and root directory (writes nothing);\n"
    "                       --repair frees lost clusters, writing only the FAT\n"
    "  ports                list the serial ports (* marks the one in use) and adapters' stable names\n"
    "\n";
const char* const kBaudHelp = "  --baud N      line rate in bits per second (default 115200)\n";

void PrintUsage(std::FILE* to) {
    std::fputs(kUsage, to);
    std::fputs(PortOptionHelp(), to);
    std::fputs(kBaudHelp, to);
}

}  // namespace

int ZvtMain(int argc, char** argv) {
    std::string port = DefaultPort();
    uint32_t baud = 115200;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if ((a == "--port" || a == "--baud") && i + 1 < argc) {
            if (a == "--port") {
                port = argv[++i];
            } else {
                char* end = nullptr;
                const unsigned long v = std::strtoul(argv[++i], &end, 10);
                if (!end || *end || v == 0 || v > 4000000) {
                    Fail(std::string("bad baud rate: ") + argv[i]);
                    return 2;
                }
                baud = static_cast<uint32_t>(v);
            }
        } else if (a == "-h" || a == "--help") {
            PrintUsage(stdout);
            return 0;
        } else {
            args.emplace_back(a);
        }
    }
    if (args.empty()) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string cmd = args.front();
    args.erase(args.begin());

    std::string dir = ".";
    bool yes = false;
    bool verify = false;
    bool repair = false;
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        if (cmd == "get" && args[i] == "-C" && i + 1 < args.size()) {
            dir = args[++i];
        } else if (cmd == "format" && args[i] == "--yes") {
            yes = true;
        } else if (cmd == "put" && args[i] == "--verify") {
            verify = true;
        } else if (cmd == "check" && args[i] == "--repair") {
            repair = true;
        } else {
            operands.push_back(args[i]);
        }
    }
    static const char* const known[] = {"info", "ls", "put", "get", "rm", "format", "check", "ports"};
    if (std::find(std::begin(known), std::end(known), cmd) == std::end(known)) {
        Fail("unknown command: " + cmd);
        PrintUsage(stderr);
        return 2;
    }
    if ((cmd == "info" || cmd == "ls" || cmd == "format" || cmd == "check" || cmd == "ports") && !operands.empty()) {
        Fail(cmd + ": unexpected argument " + operands.front());
        return 2;
    }
    if (cmd == "ports") return CmdPorts(port);  // takes no port

    // What put cannot read is refused before the port is taken: a named
    // pipe would hold the run (and the port) until someone writes to it.
    int refused = 0;
    if (cmd == "put" && !operands.empty()) {
        std::vector<std::string> files;
        if (!SelectPcFiles(operands, files)) refused = 1;
        if (files.empty()) return 1;
        operands = std::move(files);
    }

    CatchInterrupts();
    TZvtClient client;
    client.StopRequested = [] { return InterruptSignal() != 0; };
    if (!client.Open(port, baud)) {
        Fail(client.Error());
        return 1;
    }
    int rc = 2;
    if (cmd == "info") rc = CmdInfo(client);
    else if (cmd == "ls") rc = CmdLs(client);
    else if (cmd == "put") rc = std::max(CmdPut(client, operands, verify), refused);
    else if (cmd == "get") rc = CmdGet(client, operands, dir);
    else if (cmd == "rm") rc = CmdRm(client, operands);
    else if (cmd == "format") rc = CmdFormat(client, yes);
    else if (cmd == "check") rc = CmdCheck(client, repair);
    // After the line has settled: an answer still on its way goes nowhere.
    client.Close();
    InterruptsDone();
    if (const int sig = InterruptSignal()) {
        Fail("прервано (сигнал " + std::to_string(sig) + ")");
        return 128 + sig;
    }
    return rc;
}

}  // namespace skarvel
