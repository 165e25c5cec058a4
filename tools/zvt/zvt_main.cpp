// The command line of zvt: options, the command and its operands.
#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "tools/zvt/client.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/console.h"
#include "tools/zvt/interrupt.h"
#include "tools/zvt/pc_files.h"
#include "tools/zvt/zvt_main.h"

namespace skarvel {

using namespace zvtcmd;

namespace {

// Lines of at most 79 characters: an 80-column console breaks longer ones.
const char* const kUsage =
    "использование: zvt [--port ИМЯ] [--baud N] КОМАНДА [АРГУМЕНТЫ]\n"
    "\n"
    "  info                  опознать устройство и показать геометрию носителя\n"
    "  ls                    список файлов на носителе (имя и размер в байтах)\n"
    "  put ФАЙЛ...           записать файлы ПК на носитель под их именами 8.3\n"
    "    --verify            прочитать каждый файл после записи и сравнить\n"
    "    --replace           файл с тем же именем на носителе заменить; старый\n"
    "                        остаётся целым, пока новый не записан полностью\n"
    "  get ИМЯ... [-C ПАПКА] загрузить файлы в ПАПКУ (по умолчанию в текущую)\n"
    "    -n, --no-clobber    не заменять файлы, которые уже есть в ПАПКЕ\n"
    "  rm ИМЯ...             удалить файлы на носителе\n"
    "  format --yes          отформатировать носитель (стирает все файлы на нём)\n"
    "  check [--repair]      проверить загрузочный сектор, FAT и корневой каталог;\n"
    "                        без --repair ничего не записывает, с ним освобождает\n"
    "                        потерянные кластеры, записывая только FAT\n"
    "\n";
const char* const kBaudHelp = "  --baud N      скорость линии, бит/с (по умолчанию 115200)\n";

std::string Usage() { return std::string(kUsage) + PortOptionHelp() + kBaudHelp; }

// The command line as parsed: the port options, the command and what
// follows it.
struct TCommandLine {
    std::string Port = "COM2";
    uint32_t Baud = 115200;
    std::string Cmd;
    std::string Dir = ".";
    bool Yes = false;
    bool Verify = false;
    bool Replace = false;
    bool NoClobber = false;
    bool Repair = false;
    std::vector<std::string> Operands;
};

constexpr int GoOn = -1;

// --port, --baud and --help, wherever they stand; the rest is the command
// and its arguments. GoOn, or the exit code.
int ParseGlobalOptions(int argc, char** argv, TCommandLine& line, std::vector<std::string>& args) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if ((a == "--port" || a == "--baud") && i + 1 < argc) {
            if (a == "--port") {
                line.Port = argv[++i];
            } else {
                char* end = nullptr;
                const unsigned long v = std::strtoul(argv[++i], &end, 10);
                if (!end || *end || v == 0 || v > 4000000) {
                    Fail(std::string("неверная скорость линии: ") + argv[i]);
                    return 2;
                }
                line.Baud = static_cast<uint32_t>(v);
            }
        } else if (a == "-h" || a == "--help") {
            PrintOut(Usage());
            return 0;
        } else {
            args.emplace_back(a);
        }
    }
    if (args.empty()) {
        PrintErr(Usage());
        return 2;
    }
    return GoOn;
}

// The command, its own options and its operands. GoOn, or the exit code.
int ParseCommand(std::vector<std::string> args, TCommandLine& line) {
    line.Cmd = args.front();
    args.erase(args.begin());
    const std::string& cmd = line.Cmd;
    for (size_t i = 0; i < args.size(); ++i) {
        if (cmd == "get" && args[i] == "-C" && i + 1 < args.size()) {
            line.Dir = NativePath(args[++i]);
        } else if (cmd == "format" && args[i] == "--yes") {
            line.Yes = true;
        } else if (cmd == "put" && args[i] == "--verify") {
            line.Verify = true;
        } else if (cmd == "put" && args[i] == "--replace") {
            line.Replace = true;
        } else if (cmd == "get" && (args[i] == "-n" || args[i] == "--no-clobber")) {
            line.NoClobber = true;
        } else if (cmd == "check" && args[i] == "--repair") {
            line.Repair = true;
        } else {
            line.Operands.push_back(cmd == "put" ? NativePath(args[i]) : args[i]);
        }
    }
    static const char* const known[] = {"info", "ls", "put", "get", "rm", "format", "check"};
    if (std::find(std::begin(known), std::end(known), cmd) == std::end(known)) {
        Fail("неизвестная команда: " + cmd);
        PrintErr(Usage());
        return 2;
    }
    if ((cmd == "info" || cmd == "ls" || cmd == "format" || cmd == "check") && !line.Operands.empty()) {
        Fail(cmd + ": лишний аргумент " + line.Operands.front());
        return 2;
    }
    return GoOn;
}

int RunCommand(TZvtClient& client, const TCommandLine& line, int refused) {
    const std::string& cmd = line.Cmd;
    if (cmd == "info") return CmdInfo(client);
    if (cmd == "ls") return CmdLs(client);
    if (cmd == "put") return std::max(CmdPut(client, line.Operands, line.Verify, line.Replace), refused);
    if (cmd == "get") return CmdGet(client, line.Operands, line.Dir, line.NoClobber);
    if (cmd == "rm") return CmdRm(client, line.Operands);
    if (cmd == "format") return CmdFormat(client, line.Yes);
    if (cmd == "check") return CmdCheck(client, line.Repair);
    return 2;
}

}  // namespace

int ZvtMain(int argc, char** argv) {
    TCommandLine line;
    std::vector<std::string> args;
    if (const int rc = ParseGlobalOptions(argc, argv, line, args); rc != GoOn) return rc;
    if (const int rc = ParseCommand(std::move(args), line); rc != GoOn) return rc;

    // What put cannot read is refused before the port is taken: a named
    // pipe would hold the run (and the port) until someone writes to it.
    int refused = 0;
    if (line.Cmd == "put" && !line.Operands.empty()) {
        std::vector<std::string> files;
        if (!SelectPcFiles(line.Operands, files)) refused = 1;
        if (files.empty()) return 1;
        line.Operands = std::move(files);
    }

    CatchInterrupts();
    TZvtClient client;
    client.StopRequested = [] { return InterruptSignal() != 0; };
    if (!client.Open(line.Port, line.Baud)) {
        Fail(client.Error());
        return 1;
    }
    const int rc = RunCommand(client, line, refused);
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
