#include "platform/linux/system_tools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace {

std::mutex g_ToolMutex;
std::map<std::string, std::string>& Overrides() {
  static std::map<std::string, std::string> overrides;
  return overrides;
}

}  // namespace

std::string SystemToolPath(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::string();
  {
    std::lock_guard<std::mutex> lock(g_ToolMutex);
    auto it = Overrides().find(name);
    if (it != Overrides().end()) return it->second;
  }
  for (const char* dir : kSystemToolDirs) {
    std::string path = std::string(dir) + "/" + name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) return path;
  }
  return std::string();
}

void SetSystemToolForTest(const std::string& name, const std::string& path) {
  std::lock_guard<std::mutex> lock(g_ToolMutex);
  if (path.empty())
    Overrides().erase(name);
  else
    Overrides()[name] = path;
}

int RunSystemTool(const std::string& name, std::vector<std::string> args, std::string* out) {
  std::string path = SystemToolPath(name);
  if (path.empty()) return -1;
  args.insert(args.begin(), path);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string envText[] = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C", "DEBIAN_FRONTEND=noninteractive"};
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  if (out && ::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (out)
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 1);
  else
    posix_spawn_file_actions_adddup2(&fa, 2, 1);
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (out) {
    ::close(pipeFds[1]);
    out->clear();
    char buf[4096];
    for (;;) {
      ssize_t n = rc == 0 ? ::read(pipeFds[0], buf, sizeof buf) : 0;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (out->size() < 65536) out->append(buf, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
  }
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}


bool IsRootOwnedHelper(const std::string& path) {
  size_t slash = path.rfind('/');
  if (path.empty() || path[0] != '/' || slash == std::string::npos) return false;
  std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st, dir;
  if (::lstat(path.c_str(), &st) != 0 || ::stat(folder.c_str(), &dir) != 0) return false;
  return S_ISREG(st.st_mode) && st.st_uid == 0 && (st.st_mode & 0022) == 0 && (st.st_mode & 0100) != 0 &&
         S_ISDIR(dir.st_mode) && dir.st_uid == 0 && (dir.st_mode & 0022) == 0;
}
