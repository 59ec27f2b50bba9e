// appliance-sim: plays the appliance on UDP port 8888 for tests and the demo. Linux only; run it
// inside the appliance-side network namespace. See README.md for the configuration file.
//
//   appliance-sim --config FILE [--log FILE] [--pid-file FILE]
//
// Signals: SIGUSR1 sends a notification to the last host seen; SIGHUP reloads the configuration
// (attributes the host set are kept); SIGTERM and SIGINT end it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>

#include "responder.h"

using namespace velmora::sim;

namespace {

volatile std::sig_atomic_t gNotify = 0;
volatile std::sig_atomic_t gReload = 0;
volatile std::sig_atomic_t gStop = 0;

void onSignal(int signal) {
    if (signal == SIGUSR1)
        gNotify = 1;
    else if (signal == SIGHUP)
        gReload = 1;
    else
        gStop = 1;
}

class Log {
public:
    bool open(const std::string& path) {
        if (path.empty() || path == "-") {
            file_ = stdout;
            return true;
        }
        file_ = std::fopen(path.c_str(), "a");
        return file_ != nullptr;
    }
    void line(const std::string& text) {
        using namespace std::chrono;
        const auto now = system_clock::now();
        const std::time_t t = system_clock::to_time_t(now);
        std::tm tm{};
        localtime_r(&t, &tm);
        const int ms =
            static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
        std::fprintf(file_, "%02d:%02d:%02d.%03d %s\n", tm.tm_hour, tm.tm_min, tm.tm_sec, ms,
                     text.c_str());
        std::fflush(file_);
    }

private:
    std::FILE* file_ = stdout;
};

bool exists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

int usage() {
    std::fprintf(stderr, "usage: appliance-sim --config FILE [--log FILE] [--pid-file FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string configPath, logOverride, pidFile;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        if (arg == "--config")
            configPath = argv[++i];
        else if (arg == "--log")
            logOverride = argv[++i];
        else if (arg == "--pid-file")
            pidFile = argv[++i];
        else
            return usage();
    }
    if (configPath.empty())
        return usage();

    SimConfig config;
    std::string error;
    if (!loadConfig(configPath, &config, &error)) {
        std::fprintf(stderr, "appliance-sim: %s: %s\n", configPath.c_str(), error.c_str());
        return 1;
    }
    if (!logOverride.empty())
        config.logPath = logOverride;
    Log log;
    if (!log.open(config.logPath)) {
        std::fprintf(stderr, "appliance-sim: cannot open log %s\n", config.logPath.c_str());
        return 1;
    }

    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        std::perror("appliance-sim: socket");
        return 1;
    }
    const int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(sock, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(config.port);
    if (::inet_pton(AF_INET, config.bindAddress.c_str(), &local.sin_addr) != 1 ||
        ::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "appliance-sim: cannot bind %s:%u: %s\n", config.bindAddress.c_str(),
                     config.port, std::strerror(errno));
        return 1;
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    for (int s : {SIGUSR1, SIGHUP, SIGTERM, SIGINT})
        ::sigaction(s, &sa, nullptr);
    if (!pidFile.empty())
        std::ofstream(pidFile) << ::getpid() << "\n";

    Responder responder(config);
    sockaddr_in lastHost{};
    bool haveHost = false;
    auto nextNotify =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(config.notifyIntervalMs);
    log.line("READY port=" + std::to_string(config.port) + " product=\"" + config.product + "\"");

    auto sendNotification = [&] {
        if (exists(responder.config().offFile))
            return;
        if (!haveHost) {
            log.line("NOTIFY skipped: no host seen yet");
            return;
        }
        std::string text;
        const auto bytes = responder.notification(&text);
        const ssize_t n = ::sendto(sock, bytes.data(), bytes.size(), 0,
                                   reinterpret_cast<sockaddr*>(&lastHost), sizeof lastHost);
        log.line("TX to=" + dottedAddress(lastHost.sin_addr.s_addr) + " len=" + std::to_string(n) +
                 " " + text);
    };

    std::uint8_t buffer[65536];
    while (!gStop) {
        if (gReload) {
            gReload = 0;
            SimConfig fresh;
            if (loadConfig(configPath, &fresh, &error)) {
                fresh.attributes.insert(responder.config().attributes.begin(),
                                        responder.config().attributes.end());
                if (!logOverride.empty())
                    fresh.logPath = logOverride;
                responder.config() = fresh;
                log.line("RELOADED " + configPath);
            } else {
                log.line("RELOAD failed: " + error);
            }
        }
        if (gNotify) {
            gNotify = 0;
            sendNotification();
        }
        const unsigned interval = responder.config().notifyIntervalMs;
        if (interval > 0 && std::chrono::steady_clock::now() >= nextNotify) {
            nextNotify = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
            sendNotification();
        }

        pollfd pfd{sock, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;

        sockaddr_in from{};
        char control[256];
        iovec iov{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(sock, &msg, 0);
        if (n < 0)
            continue;
        std::string destination = "?";
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                destination = dottedAddress(info.ipi_addr.s_addr);
            }
        }
        if (exists(responder.config().offFile)) {
            log.line("OFF ignored a datagram from " + dottedAddress(from.sin_addr.s_addr));
            continue;
        }
        lastHost = from;
        haveHost = true;
        const Outcome outcome =
            responder.handle(buffer, static_cast<int>(n), from.sin_addr.s_addr, destination);
        for (const std::string& line : outcome.log)
            log.line(line);
        if (outcome.reply.empty())
            continue;
        if (responder.config().delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(responder.config().delayMs));
        }
        ::sendto(sock, outcome.reply.data(), outcome.reply.size(), 0,
                 reinterpret_cast<sockaddr*>(&from), sizeof from);
        if (outcome.shutdown) {
            log.line("SHUTDOWN requested");
            if (responder.config().shutdownPowersOff && !responder.config().offFile.empty()) {
                std::ofstream(responder.config().offFile) << "shutdown\n";
                log.line("POWERED OFF (" + responder.config().offFile + ")");
            }
        }
    }
    log.line("STOPPED");
    ::close(sock);
    return 0;
}
