#pragma once
// Debian's ser2net as the tests' serial device server: started in the foreground on a free
// loopback port with a configuration of its own, serving one device with RFC 2217 (or raw
// TCP), and ended by its process id.
#include <sys/types.h>

#include <string>

class Ser2net {
  public:
    Ser2net() = default;
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // The installed server program, or empty when it is not installed.
    static std::string Program();
    // Serves `device` at 19200 8N1 on 127.0.0.1 (or ::1), on `port` or a free one (0); false
    // with LastError when the server does not listen within a few seconds.
    bool Start(const std::string& device, bool rfc2217 = true, bool ipv6 = false, int port = 0);
    // Ends the server (SIGKILL: as a server that dies), and waits for it.
    void Kill();
    // "rfc2217://127.0.0.1:PORT" (or tcp://, or [::1]).
    const std::string& Address() const { return address_; }
    int Port() const { return port_; }
    const std::string& LastError() const { return error_; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string address_;
    std::string directory_;
    std::string error_;
};
