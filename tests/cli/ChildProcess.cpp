#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace {
int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

[[noreturn]] void ExecChild(const std::string& program, const std::vector<std::string>& args, int in[2],
                            int out[2], int err[2]) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
        close(fd);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Reads what is there; false at end of stream.
bool Drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        return false;
    }
    into.append(buffer, static_cast<size_t>(n));
    return true;
}
}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, int timeoutMs,
                     const std::function<void(const std::string&)>& onOutput, bool outputTerminal,
                     int* childPid, int terminalColumns) {
    ChildResult result;
    int in[2];
    int out[2];  // read end, write end: a pseudo-terminal's master and slave when asked for
    int err[2];
    winsize size{};
    size.ws_row = terminalColumns > 0 ? 24 : 0;
    size.ws_col = static_cast<unsigned short>(terminalColumns);
    const bool outOk =
        outputTerminal ? openpty(&out[0], &out[1], nullptr, nullptr, &size) == 0 : pipe(out) == 0;
    if (!outOk || pipe(in) != 0 || pipe(err) != 0) {
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        ExecChild(program, args, in, out, err);
    }
    if (childPid != nullptr) {
        *childPid = pid;
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) {
        (void)!write(in[1], input.data(), input.size());  // small: fits the pipe
    }
    close(in[1]);
    const int64_t until = NowMs() + timeoutMs;
    bool outOpen = true;
    bool errOpen = true;
    while ((outOpen || errOpen) && NowMs() < until) {
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            outOpen = Drain(out[0], result.out);
            if (onOutput) {
                onOutput(result.out);
            }
        }
        if (fds[1].revents != 0) {
            errOpen = Drain(err[0], result.err);
        }
    }
    if (outOpen || errOpen) {
        result.timedOut = true;
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    close(err[0]);
    if (!result.timedOut && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    return result;
}
