#include "tests/support/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace pmrtest {

namespace {

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

ChildProcess Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   bool captureOutput) {
  ChildProcess child;
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  if (captureOutput && (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)) return child;
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    if (captureOutput) {
      dup2(out[1], 1);
      dup2(err[1], 2);
    }
    for (const auto& e : env) {
      size_t eq = e.find('=');
      if (eq == std::string::npos) continue;
      std::string name = e.substr(0, eq), value = e.substr(eq + 1);
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  child.pid = pid;
  if (captureOutput) {
    close(out[1]);
    close(err[1]);
    child.stdoutFd = out[0];
    child.stderrFd = err[0];
  }
  return child;
}

int WaitFor(ChildProcess& child, double timeoutSeconds) {
  if (child.pid <= 0) return -1;
  auto t0 = std::chrono::steady_clock::now();
  int status = 0;
  for (;;) {
    pid_t r = waitpid(child.pid, &status, WNOHANG);
    if (r == child.pid) {
      child.pid = -1;
      return status;
    }
    if (SecondsSince(t0) > timeoutSeconds) {
      kill(child.pid, SIGKILL);
      waitpid(child.pid, &status, 0);
      child.pid = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string ReadAll(int fd, double timeoutSeconds) {
  std::string text;
  if (fd < 0) return text;
  auto t0 = std::chrono::steady_clock::now();
  char buf[4096];
  while (SecondsSince(t0) < timeoutSeconds) {
    pollfd p{fd, POLLIN, 0};
    int left = static_cast<int>((timeoutSeconds - SecondsSince(t0)) * 1000) + 1;
    if (poll(&p, 1, left) <= 0) break;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}

int Run(const std::vector<std::string>& argv, std::string* out, const std::vector<std::string>& env,
        double timeoutSeconds) {
  ChildProcess child = Spawn(argv, env, true);
  if (child.pid <= 0) return -1;
  std::string text = ReadAll(child.stdoutFd, timeoutSeconds);
  text += ReadAll(child.stderrFd, 1);
  int status = WaitFor(child, timeoutSeconds);
  close(child.stdoutFd);
  close(child.stderrFd);
  if (out) *out = text;
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string MakeTempDir(const std::string& tag) {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/pmr-" + tag + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  char* dir = mkdtemp(buf.data());
  return dir ? std::string(dir) : std::string();
}

std::string ProgramPath() { return std::string(PMR_BINARY_DIR) + "/pellomar"; }

std::vector<std::string> ThreadNames(pid_t pid) {
  std::vector<std::string> names;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(dir + "/" + e->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    names.push_back(name);
  }
  closedir(d);
  return names;
}

}  // namespace pmrtest
