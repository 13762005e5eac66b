#include "support/Ser2net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

constexpr int kListenWaitMs = 5000;

// A port the system has just handed out for loopback and taken back: free for the server.
int FreeLoopbackPort(bool ipv6) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    int port = 0;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin6_port);
        }
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
    }
    ::close(fd);
    return port;
}

// True once a socket listens on the port (read from the kernel's table, so that no
// connection is made just to find out).
bool Listening(int port, bool ipv6) {
    std::ifstream table(ipv6 ? "/proc/net/tcp6" : "/proc/net/tcp");
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string Ser2net::Program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

Ser2net::~Ser2net() {
    Kill();
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

bool Ser2net::Start(const std::string& device, bool rfc2217, bool ipv6, int port) {
    const std::string program = Program();
    if (program.empty()) {
        error_ = "ser2net is not installed";
        return false;
    }
    port_ = port > 0 ? port : FreeLoopbackPort(ipv6);
    const std::string host = ipv6 ? "::1" : "127.0.0.1";
    directory_ = (std::filesystem::temp_directory_path() /
                  ("lct-ser2net-" + std::to_string(::getpid()) + "-" + std::to_string(port_)))
                     .string();
    std::filesystem::create_directories(directory_);
    const std::string config = directory_ + "/ser2net.yaml";
    std::ofstream(config) << "connection: &line\n"
                          << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << host << ","
                          << port_ << "\n"
                          << "  connector: serialdev," << device << ",19200n81,local\n"
                          << "  options:\n    kickolduser: true\n";
    pid_ = ::fork();
    if (pid_ == 0) {
        // Its chatter (debug output, a missing mDNS service) goes to a file, not the test's.
        const int log = ::open((directory_ + "/ser2net.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        ::execl(program.c_str(), "ser2net", "-n", "-u", "-c", config.c_str(), "-P",
                (directory_ + "/ser2net.pid").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid_ < 0) {
        error_ = "fork failed";
        return false;
    }
    address_ = std::string(rfc2217 ? "rfc2217://" : "tcp://") + (ipv6 ? "[::1]" : host) + ":" +
               std::to_string(port_);
    for (int waited = 0; waited < kListenWaitMs; waited += 20) {
        if (Listening(port_, ipv6)) {
            return true;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "ser2net ended at once; see " + directory_ + "/ser2net.log";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "ser2net does not listen on port " + std::to_string(port_);
    return false;
}

void Ser2net::Kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}
