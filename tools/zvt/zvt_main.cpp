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
    "  get ИМЯ... [-C ПАПКА] загрузить файлы в ПАПКУ (по умолчанию в текущую)\n"
    "  rm ИМЯ...             удалить файлы на носителе\n"
    "  cat ИМЯ...            вывести файлы носителя в стандартный вывод как есть\n"
    "  diff ПАПКА            сравнить файлы носителя с файлами папки ПК;\n"
    "                        код выхода 0, когда все совпадают\n"
    "  format --yes          отформатировать носитель (стирает все файлы на нём)\n"
    "  check [--repair]      проверить загрузочный сектор, FAT и корневой каталог;\n"
    "                        без --repair ничего не записывает, с ним освобождает\n"
    "                        потерянные кластеры, записывая только FAT\n"
    "\n";
const char* const kBaudHelp = "  --baud N      скорость линии, бит/с (по умолчанию 115200)\n";

std::string Usage() { return std::string(kUsage) + PortOptionHelp() + kBaudHelp; }

}  // namespace

int ZvtMain(int argc, char** argv) {
    std::string port = "COM2";
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
                    Fail(std::string("неверная скорость линии: ") + argv[i]);
                    return 2;
                }
                baud = static_cast<uint32_t>(v);
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
    const std::string cmd = args.front();
    args.erase(args.begin());

    std::string dir = ".";
    bool yes = false;
    bool verify = false;
    bool repair = false;
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        if (cmd == "get" && args[i] == "-C" && i + 1 < args.size()) {
            dir = NativePath(args[++i]);
        } else if (cmd == "format" && args[i] == "--yes") {
            yes = true;
        } else if (cmd == "put" && args[i] == "--verify") {
            verify = true;
        } else if (cmd == "check" && args[i] == "--repair") {
            repair = true;
        } else {
            operands.push_back(cmd == "put" || cmd == "diff" ? NativePath(args[i]) : args[i]);
        }
    }
    static const char* const known[] = {"info", "ls", "put", "get", "rm", "cat", "diff", "format", "check"};
    if (std::find(std::begin(known), std::end(known), cmd) == std::end(known)) {
        Fail("неизвестная команда: " + cmd);
        PrintErr(Usage());
        return 2;
    }
    if ((cmd == "info" || cmd == "ls" || cmd == "format" || cmd == "check") && !operands.empty()) {
        Fail(cmd + ": лишний аргумент " + operands.front());
        return 2;
    }
    if (cmd == "diff" && operands.size() != 1) {
        Fail(operands.empty() ? "diff: не указана папка" : "diff: лишний аргумент " + operands[1]);
        return 2;
    }

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
    else if (cmd == "cat") rc = CmdCat(client, operands);
    else if (cmd == "diff") rc = CmdDiff(client, operands.front());
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
