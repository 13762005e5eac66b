#pragma once
// Runs a program as a child process with its standard streams on pipes: the input given is
// written and closed, the output is collected, and a child that outlives its time limit is
// killed, so that no test waits for ever.
#include <functional>
#include <string>
#include <vector>

struct ChildResult {
    int status = -1;  // exit status; -1 when killed or not started
    bool timedOut = false;
    std::string out;
    std::string err;
};

// `onOutput` (optional) sees the whole standard output so far whenever more arrives. With
// `outputTerminal`, standard output is a pseudo-terminal instead of a pipe, `terminalColumns`
// wide (0: a terminal that tells no size). `childPid` (optional) receives the child's process
// id as soon as it runs, for signals sent to it.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, int timeoutMs,
                     const std::function<void(const std::string&)>& onOutput = {},
                     bool outputTerminal = false, int* childPid = nullptr, int terminalColumns = 0);
