// zvt-sim for the Windows tests under wine. zvt-sim is a Linux program, so a
// broker outside wine starts it (tests/wine/sim_broker.cpp); the tests talk
// to the broker over a TCP connection on 127.0.0.1, whose port the wine
// runner passes in SKARVEL_SIM_BROKER, and reach the simulator through the
// COM port that wine maps to its pty. The connection is the simulator's
// lifetime: closing it ends the simulator.
#include "tests/sim_process.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace skarvel::test {

namespace {

// The Linux path of a Windows path, from wine's own kernel32 (a path the
// simulator outside wine can open).
std::string UnixPath(const std::string& windowsPath) {
    using TWineUnixName = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<TWineUnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) throw std::runtime_error("zvt-sim runs outside wine: these tests need wine");
    const int n = MultiByteToWideChar(CP_UTF8, 0, windowsPath.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, windowsPath.c_str(), -1, wide.data(), n);
    char* name = unixName(wide.c_str());
    if (!name)
        throw std::runtime_error("wine has no Linux path for " + windowsPath + " (error " +
                                 std::to_string(GetLastError()) + ")");
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

bool TakesPath(const std::string& option) { return option == "--image" || option == "--device" || option == "--link"; }

class TWinsock {
public:
    TWinsock() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    }
    ~TWinsock() { WSACleanup(); }
};

}  // namespace

struct SimProcess::TChild {
    TChild() {
        const char* broker = std::getenv("SKARVEL_SIM_BROKER");
        if (!broker || !*broker)
            throw std::runtime_error("SKARVEL_SIM_BROKER is not set: run the Windows tests through the build's "
                                     "wine runner (ctest in the cross build)");
        const std::string where = broker;
        const size_t colon = where.rfind(':');
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(std::atoi(where.substr(colon + 1).c_str())));
        if (colon == std::string::npos || inet_pton(AF_INET, where.substr(0, colon).c_str(), &addr.sin_addr) != 1)
            throw std::runtime_error("SKARVEL_SIM_BROKER is not host:port: " + where);
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET || connect(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("cannot reach the simulator broker at " + where);
    }
    ~TChild() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }

    void Send(const std::string& line) {
        const std::string s = line + "\n";
        size_t done = 0;
        while (done < s.size()) {
            const int n = send(socket_, s.data() + done, static_cast<int>(s.size() - done), 0);
            if (n <= 0) throw std::runtime_error("the simulator broker went away");
            done += static_cast<size_t>(n);
        }
    }
    // The next n bytes from the broker; n == npos: the next line, without its end.
    std::string Read(size_t n = std::string::npos) {
        const bool line = n == std::string::npos;
        for (;;) {
            const size_t end = line ? buffer_.find('\n') : buffer_.size() >= n ? n : std::string::npos;
            if (end != std::string::npos) {
                std::string out = buffer_.substr(0, end);
                buffer_.erase(0, line ? end + 1 : end);
                return out;
            }
            char chunk[4096];
            const int got = recv(socket_, chunk, sizeof chunk, 0);
            if (got <= 0) throw std::runtime_error("the simulator broker went away");
            buffer_.append(chunk, static_cast<size_t>(got));
        }
    }
    // One request with the answer "OK".
    void Request(const std::string& line) {
        Send(line);
        const std::string answer = Read();
        if (answer != "OK") throw std::runtime_error("simulator broker: " + answer);
    }
    // A request that ends the simulator: its exit code, output into output.
    int RequestExit(const std::string& line, std::string& output) {
        Send(line);
        const std::string answer = Read();
        int code = 0;
        size_t size = 0;
        if (std::sscanf(answer.c_str(), "EXIT %d %zu", &code, &size) != 2)
            throw std::runtime_error("simulator broker: " + answer);
        output = Read(size);
        running = false;
        return code;
    }

    bool running = false;
    int exitCode = 0;

private:
    TWinsock winsock_;
    SOCKET socket_ = INVALID_SOCKET;
    std::string buffer_;
};

SimProcess::SimProcess(const std::vector<std::string>& args, int startTimeoutMs) : child_(std::make_unique<TChild>()) {
    std::string request = "START\t" + std::to_string(startTimeoutMs);
    for (size_t i = 0; i < args.size(); ++i) {
        const bool path = i > 0 && TakesPath(args[i - 1]);
        request += "\t" + (path ? UnixPath(args[i]) : args[i]);
    }
    child_->Send(request);
    const std::string answer = child_->Read();
    if (answer.rfind("PORT ", 0) != 0) throw std::runtime_error("zvt-sim did not start: " + answer);
    ptyPath_ = answer.substr(5);
    child_->running = true;
}

// Closing the connection alone would end the simulator too, but only some
// time later on the broker's side: the next simulator on the same image
// could then find it still locked. Killed and reaped first, as on Linux.
SimProcess::~SimProcess() {
    try {
        Kill();
    } catch (const std::exception&) {
        // The broker is gone, and the simulator with it.
    }
}

bool SimProcess::Running() const { return child_->running; }

void SimProcess::Signal(int sig) {
    if (child_->running) child_->Request("SIGNAL\t" + std::to_string(sig));
}

void SimProcess::Freeze() {
    if (child_->running) child_->Request("FREEZE");
}

void SimProcess::Thaw() {
    if (child_->running) child_->Request("THAW");
}

void SimProcess::Kill() {
    if (child_->running) child_->exitCode = child_->RequestExit("KILL", output_);
}

int SimProcess::Stop(int timeoutMs) {
    if (child_->running) child_->exitCode = child_->RequestExit("STOP\t" + std::to_string(timeoutMs), output_);
    return child_->exitCode;
}

}  // namespace skarvel::test
