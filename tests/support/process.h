#pragma once
// Starting and watching child processes from tests: the real program, helper
// tools, fake services.
#include <sys/types.h>

#include <string>
#include <vector>

namespace pmrtest {

struct ChildProcess {
  pid_t pid = -1;
  int stdoutFd = -1;  // read end of the child's stdout (when captured)
  int stderrFd = -1;  // read end of the child's stderr (when captured)
};

// Starts argv[0] (searched on PATH when it has no slash) with the extra
// environment entries ("NAME=value"; "NAME=" with nothing after the sign
// removes the variable). stdin is /dev/null.
ChildProcess Spawn(const std::vector<std::string>& argv,
                   const std::vector<std::string>& env = {}, bool captureOutput = true);

// Waits for the child; returns its wait status, or -1 after the timeout (the
// child is then killed with SIGKILL and reaped).
int WaitFor(ChildProcess& child, double timeoutSeconds);

// Reads what is available on a captured descriptor until EOF or timeout.
std::string ReadAll(int fd, double timeoutSeconds);

// Runs a command to completion; returns its exit code (or -1), output in *out.
int Run(const std::vector<std::string>& argv, std::string* out = nullptr,
        const std::vector<std::string>& env = {}, double timeoutSeconds = 30);

// A fresh private directory under the test temp directory.
std::string MakeTempDir(const std::string& tag);

// Path of the built program.
std::string ProgramPath();

// Names of the threads of a process (/proc/<pid>/task/*/comm).
std::vector<std::string> ThreadNames(pid_t pid);

}  // namespace pmrtest
