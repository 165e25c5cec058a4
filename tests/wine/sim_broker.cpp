// skarvel-sim-broker: starts zvt-sim for the Windows tests, which run under
// wine and cannot start a Linux program or signal it themselves.
//
// It listens on a TCP port of 127.0.0.1 and serves each connection on a
// thread of its own; one connection is one simulator. Requests and answers
// are lines of tab-separated fields:
//   START <timeout ms> <arg>...  -> "PORT COMn" once zvt-sim serves its pty,
//                                   linked at <ports>/comn, which wine's
//                                   registry maps to COMn; or "ERR <why>",
//                                   with what the simulator wrote to stderr
//                                   (an image in use, a bad option)
//   FREEZE, THAW, SIGNAL <n>     -> "OK" (SIGSTOP, SIGCONT, signal n)
//   KILL, STOP <timeout ms>      -> "EXIT <code> <bytes>" and that many bytes
//                                   of the simulator's output
// A connection that closes takes its simulator with it, so a test that
// crashes leaves nothing behind. The broker ends when it has had no
// connection for --idle seconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/sim_process.h"

namespace {

using skarvel::test::SimProcess;

struct TOptions {
    std::string PortsDir;
    int FirstPort = 5;
    int LastPort = 20;
    int IdleSeconds = 120;
};

// The COM port numbers in use.
class TSlots {
public:
    TSlots(int first, int last) : first_(first), last_(last) {}
    int Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int n = first_; n <= last_; ++n)
            if (used_.insert(n).second) return n;
        return 0;
    }
    void Give(int n) {
        std::lock_guard<std::mutex> lock(mutex_);
        used_.erase(n);
    }

private:
    const int first_, last_;
    std::mutex mutex_;
    std::set<int> used_;
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

class TConnection {
public:
    TConnection(int fd, const TOptions& options, TSlots& slots) : fd_(fd), options_(options), slots_(slots) {}
    ~TConnection() {
        sim_.reset();  // killed and reaped before its port is handed out again
        if (slot_) slots_.Give(slot_);
        close(fd_);
    }

    void Serve() {
        std::string line;
        while (ReadLine(line)) {
            const std::vector<std::string> f = SplitTabs(line);
            if (!Handle(f)) return;
        }
    }

private:
    bool Handle(const std::vector<std::string>& f) {
        const std::string& cmd = f[0];
        if (cmd == "START" && f.size() >= 2 && !sim_) return Start(f);
        if (!sim_) return Send("ERR no simulator\n");
        if (cmd == "FREEZE") sim_->Freeze();
        else if (cmd == "THAW") sim_->Thaw();
        else if (cmd == "SIGNAL" && f.size() == 2) sim_->Signal(std::atoi(f[1].c_str()));
        else if (cmd == "KILL") sim_->Kill();
        else if (cmd == "STOP" && f.size() == 2) return SendExit(sim_->Stop(std::atoi(f[1].c_str())));
        else return Send("ERR unknown request\n");
        return cmd == "KILL" ? SendExit(-SIGKILL) : Send("OK\n");
    }

    bool Start(const std::vector<std::string>& f) {
        slot_ = slots_.Take();
        if (!slot_) return Send("ERR no COM port left\n");
        std::vector<std::string> args(f.begin() + 2, f.end());
        args.push_back("--link");
        args.push_back(options_.PortsDir + "/com" + std::to_string(slot_));
        try {
            sim_ = std::make_unique<SimProcess>(args, std::atoi(f[1].c_str()));
        } catch (const std::exception& e) {
            std::string why = e.what();
            for (char& c : why)
                if (c == '\n' || c == '\r') c = ' ';
            return Send("ERR " + why + "\n");
        }
        return Send("PORT COM" + std::to_string(slot_) + "\n");
    }

    bool SendExit(int code) {
        const std::string& out = sim_->Output();
        return Send("EXIT " + std::to_string(code) + " " + std::to_string(out.size()) + "\n" + out);
    }

    bool Send(const std::string& s) {
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = send(fd_, s.data() + done, s.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    bool ReadLine(std::string& line) {
        for (;;) {
            const size_t eol = buffer_.find('\n');
            if (eol != std::string::npos) {
                line = buffer_.substr(0, eol);
                buffer_.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return true;
            }
            char chunk[4096];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    const int fd_;
    const TOptions& options_;
    TSlots& slots_;
    int slot_ = 0;
    std::unique_ptr<SimProcess> sim_;
    std::string buffer_;
};

bool ParseArgs(int argc, char** argv, TOptions& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--ports") o.PortsDir = argv[i + 1];
        else if (a == "--first") o.FirstPort = std::atoi(argv[i + 1]);
        else if (a == "--last") o.LastPort = std::atoi(argv[i + 1]);
        else if (a == "--idle") o.IdleSeconds = std::atoi(argv[i + 1]);
        else return false;
    }
    return argc % 2 == 1 && !o.PortsDir.empty() && o.FirstPort > 0 && o.FirstPort <= o.LastPort;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseArgs(argc, argv, options)) {
        std::fprintf(stderr, "usage: skarvel-sim-broker --ports DIR [--first N] [--last N] [--idle SECONDS]\n");
        return 2;
    }
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (server < 0 || bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(server, 16) != 0 ||
        getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("skarvel-sim-broker");
        return 1;
    }
    std::printf("LISTEN %u\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    TSlots slots(options.FirstPort, options.LastPort);
    std::atomic<int> active{0};
    for (;;) {
        pollfd p{server, POLLIN, 0};
        const int r = poll(&p, 1, options.IdleSeconds * 1000);
        if (r == 0 && active.load() == 0) break;  // idle: done
        if (r <= 0) continue;
        const int fd = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++active;
        std::thread([fd, &options, &slots, &active] {
            {
                TConnection c(fd, options, slots);
                c.Serve();
            }
            --active;
        }).detach();
    }
    close(server);
    return 0;
}
