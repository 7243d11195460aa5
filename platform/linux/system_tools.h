#pragma once
// System programs that the program and its root helpers start (pkexec,
// systemd-run, the package tools, udevadm, modprobe) are found only in the
// system's own program directories, never through PATH: a program of the
// same name earlier in a user's PATH must never be started instead.
#include <string>
#include <vector>

// The system directories searched, in order (root's usual order).
inline constexpr const char* kSystemToolDirs[] = {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};

// The absolute path of the first executable regular file named `name` in
// kSystemToolDirs, or "" when there is none.
std::string SystemToolPath(const std::string& name);

// Test seam: from now on SystemToolPath answers `path` for `name` (an empty
// path restores the search). Only tests call it; nothing reads the
// environment for it.
void SetSystemToolForTest(const std::string& name, const std::string& path);

// Runs the system tool `name` (found as above) with `args`, standard input
// from /dev/null and a fixed environment (the system PATH, LC_ALL=C,
// DEBIAN_FRONTEND=noninteractive): nothing of the caller's environment
// reaches it. Its standard output is kept in `out` (at most 64 KiB) when
// given, otherwise sent to standard error. Returns the exit status, or -1
// when the tool is missing, could not start or was killed by a signal.
int RunSystemTool(const std::string& name, std::vector<std::string> args, std::string* out = nullptr);

// True when `path` is a root helper that only root can have put there: a
// regular file (not a link) owned by root, executable, writable by nobody
// else, in a folder owned by root that nobody else can write to. The
// program hands administrator rights only to such a file.
bool IsRootOwnedHelper(const std::string& path);
