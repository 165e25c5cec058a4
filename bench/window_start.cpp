#include "bench/window_start.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/child.h"
#include "tests/sim_process.h"

namespace skarvel::bench {

namespace {

double SteadyNowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The program's marks ("skarvel-start <what> <ms>") taken from its standard
// error until the window and the list are both there, or 20 s have passed.
std::map<std::string, double> ReadMarks(int fd) {
    std::map<std::string, double> marks;
    std::string pending;
    const double give_up = SteadyNowMs() + 20000;
    while (!(marks.count("window") && marks.count("list")) && SteadyNowMs() < give_up) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buf[1024];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        for (size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1)) {
            char what[32];
            unsigned long long ms = 0;
            if (std::sscanf(pending.c_str(), "skarvel-start %31s %llu", what, &ms) == 2)
                marks[what] = static_cast<double>(ms);
        }
    }
    return marks;
}

struct TStart {
    double Window = -1, List = -1;  // ms from the start; -1 when not seen
};

// One start of the program on port, in a home of its own (nothing
// remembered, no other window to hand over to); ended once measured.
TStart StartOnce(const std::string& program, const std::string& port, const std::string& home) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const double start = SteadyNowMs();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        setenv("SKARVEL_START_TRACE", "1", 1);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
        if (!getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(program.c_str(), program.c_str(), "--new-instance", "--port", port.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    const std::map<std::string, double> marks = ReadMarks(fds[0]);
    kill(pid, SIGTERM);
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    TStart s;
    if (marks.count("window")) s.Window = marks.at("window") - start;
    // The list counts once it is in a window on the screen.
    if (marks.count("list") && s.Window >= 0) s.List = std::max(marks.at("list") - start, s.Window);
    return s;
}

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Worst(const std::vector<double>& v) { return v.empty() ? -1 : *std::max_element(v.begin(), v.end()); }

void Report(const char* what, const std::vector<TStart>& starts) {
    std::vector<double> window, list;
    for (const TStart& s : starts) {
        if (s.Window >= 0) window.push_back(s.Window);
        if (s.List >= 0) list.push_back(s.List);
    }
    std::printf("  %s (%zu of %zu listed):\n", what, list.size(), starts.size());
    std::printf("    %-40s median %6.0f ms   worst %6.0f ms\n", "start to window", Median(window), Worst(window));
    std::printf("    %-40s median %6.0f ms   worst %6.0f ms\n", "start to listed medium", Median(list), Worst(list));
}

// The device left on its port: nothing written to the line for a minute.
void AgeLine(const std::string& port) {
    const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 60, 0}};
    if (utimensat(AT_FDCWD, port.c_str(), times, 0) != 0) throw std::runtime_error("cannot set the time of " + port);
}

}  // namespace

void WindowStartBench(uint32_t baud, int runs) {
    test::SimProcess sim({"--baud", std::to_string(baud)});
    const std::string port = sim.PtyPath();
    if (RunChild(ZVT_CLI_PATH, {"--port", port, "format", "--yes"}).ExitCode != 0)
        throw std::runtime_error("zvt format failed");
    test::TempDir home;
    // A few programs, as a shop's medium holds.
    std::vector<std::string> files;
    for (const char* name : {"O1001.TNC", "O1002.TNC", "O1003.TNC", "PART12.LST"}) {
        files.push_back(home.Path() + "/" + name);
        FILE* f = std::fopen(files.back().c_str(), "wb");
        if (!f) throw std::runtime_error("cannot write " + files.back());
        for (int line = 0; line < 200; ++line) std::fprintf(f, "N%d G01 X%d.0 Y%d.0 F200\n", line * 10, line, -line);
        std::fclose(f);
    }
    std::vector<std::string> put{"--port", port, "put"};
    put.insert(put.end(), files.begin(), files.end());
    if (RunChild(ZVT_CLI_PATH, put).ExitCode != 0) throw std::runtime_error("zvt put failed");

    std::vector<TStart> idle, used;
    for (int i = 0; i < runs; ++i) {
        AgeLine(port);
        idle.push_back(StartOnce(SKARVEL_APP_PATH, port, home.Path()));
        // Nothing from the run before may still be on the line.
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        used.push_back(StartOnce(SKARVEL_APP_PATH, port, home.Path()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    }
    std::printf("\nStart-up of the main window (%s, %s), simulator at %u baud, %d runs each:\n", SKARVEL_APP_PATH,
                getenv("DISPLAY") ? getenv("DISPLAY") : "offscreen", baud, runs);
    Report("the device left alone on its port", idle);
    Report("the line used a moment before (it settles 1 s after the open)", used);
}

}  // namespace skarvel::bench
