// Staging, verifying and installing a downloaded update: an AppImage replaced
// in place; deb and rpm packages handed, with their signed manifest, to the
// installed root helper update-install through pkexec, which checks them
// again by itself before it installs anything.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "base/json_escape.h"
#include "platform/linux/system_tools.h"
#include "platform/linux/update/update_linux.h"
#include "platform/os_window.h"
#include "update/update_core.h"

extern char** environ;

namespace {

constexpr int64_t kMaxDownloadBytes = 314572800;  // 300 MiB

const char kNotPackaged[] = "Update failed: this copy of Pellomar wasn't installed from a package.";
const char kBadLink[] = "Update failed: the download link was not valid.";
const char kNoTempFolder[] = "Update failed: could not create a temporary folder.";
const char kCannotSave[] = "Update failed: could not save the download.";
const char kIncomplete[] = "Update failed: the download did not complete. Check your connection and try again.";
const char kMismatch[] = "Update failed: the download did not match the signed update. Nothing was changed.";
const char kCancelled[] = "Update cancelled: the system password wasn't given. Nothing was changed.";
const char kNotInstalled[] = "Update failed: the update could not be installed. Nothing was changed.";
const char kPackageFailed[] = "Update failed: the package could not be installed. Nothing was changed.";

std::string PasswordWindowMessage() {
  return std::string("Update failed: the system password window couldn't open. Download the new version from ") +
         kProductWebHost + " instead.";
}

std::string CannotReplaceMessage(const std::string& folder) {
  return "Update failed: Pellomar can't replace its own file in " + (folder.empty() ? "its folder" : folder) +
         ". Download the new version from " + kProductWebHost + " instead.";
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);  // never follows links
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return std::string();
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Downloads into `fd` (taken over) and checks the hash; "" on success.
std::string DownloadInto(int fd, const UpdateManifestInfo& info, const UpdateProgressFn& progress,
                         const std::string& path) {
  FILE* out = ::fdopen(fd, "wb");
  if (!out) {
    ::close(fd);
    return kCannotSave;
  }
  std::string unused;
  bool ok = HttpsGet(info.url, kMaxDownloadBytes, out, progress ? &progress : nullptr, unused);
  if (std::fclose(out) != 0) ok = false;
  if (!ok) return kIncomplete;
  if (LinuxSha256File(path) != info.sha256) return kMismatch;
  return std::string();
}

// The installed, root-owned update-install beside the program, or "".
std::string UpdateInstallProgram(const UpdateInstallation& inst) {
  std::string program = inst.resourceDir + "/update-install";
  return IsRootOwnedHelper(program) ? program : std::string();
}

// The manifest as the root helper reads it: the five signed values.
std::string ManifestText(const UpdateManifestInfo& info) {
  return "{\"tier\":" + JsonEscapeForBind(info.tier) + ",\"version\":" + JsonEscapeForBind(info.version) +
         ",\"url\":" + JsonEscapeForBind(info.url) + ",\"sha256\":" + JsonEscapeForBind(info.sha256) +
         ",\"sig\":" + JsonEscapeForBind(info.sig) + "}\n";
}

bool WriteNewFile(const std::string& path, const std::string& text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && ok;
}

int WaitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

std::vector<char*> CStrings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// The install program that already runs with administrator rights.
struct Authorized {
  bool active = false;
  pid_t pid = -1;
  int input = -1;
};
std::mutex g_AuthorizedMutex;
Authorized g_Authorized;

std::string StatusMessage(int status) {
  if (status >= 0 && WIFEXITED(status)) {
    int code = WEXITSTATUS(status);
    if (code == 0) return std::string();
    if (code == 126 || code == 127) return kCancelled;
  }
  return kPackageFailed;
}

}  // namespace

std::string SystemTempDir() {
  std::error_code ec;
  std::string dir = std::filesystem::temp_directory_path(ec).string();
  if (ec || dir.empty()) dir = "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string DownloadFolderPrefix() { return std::string("Pellomar-update-") + kBuildEdition + "-"; }

std::string ResolveAppImage(const char* value) {
  if (!value || !*value) return std::string();
  char buf[PATH_MAX];
  if (!::realpath(value, buf)) return std::string();
  struct stat st;
  if (::stat(buf, &st) != 0 || !S_ISREG(st.st_mode)) return std::string();
  return buf;
}

std::string OwnAppImage() { return ResolveAppImage(std::getenv("APPIMAGE")); }

std::string OwnExe() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string path(buf, static_cast<size_t>(n));
  static const std::string kDeleted = " (deleted)";
  if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
    path.resize(path.size() - kDeleted.size());
  return path;
}

std::string PackageTypeFor(const std::string& appImage, const std::string& resourceDir) {
  if (!appImage.empty()) return "appimage";
  int fd = ::open((resourceDir + "/package-type").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::string();
  char buf[64];
  ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  if (n <= 0) return std::string();
  std::string text(buf, static_cast<size_t>(n));
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text == "deb" || text == "rpm" ? text : std::string();
}

const UpdateInstallation& ThisInstallation() {
  static const UpdateInstallation inst = [] {
    UpdateInstallation i;
    i.appImage = OwnAppImage();
    i.resourceDir = OsResourceDir();
    i.packageType = PackageTypeFor(i.appImage, i.resourceDir);
    i.ownExe = OwnExe();
    i.relaunch = ReopenAfterExit;
    return i;
  }();
  return inst;
}

std::string PackageType() { return ThisInstallation().packageType; }

std::string StageUpdate(const UpdateInstallation& inst, const UpdateManifestInfo& info,
                        const UpdateProgressFn& progress, std::string& staged) {
  staged.clear();
  if (inst.packageType.empty()) return kNotPackaged;
  if (info.url.compare(0, 8, "https://") != 0) return kBadLink;

  if (inst.packageType == "deb" || inst.packageType == "rpm") {
    if (UpdateInstallProgram(inst).empty()) return kNotPackaged;
    std::string tmpl = SystemTempDir() + "/" + DownloadFolderPrefix() + "XXXXXX";
    if (!::mkdtemp(tmpl.data())) return kNoTempFolder;
    std::string folder = tmpl;
    std::string file = folder + "/update." + inst.packageType;
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      RemoveTree(folder);
      return kCannotSave;
    }
    std::string message = DownloadInto(fd, info, progress, file);
    // The root helper judges the manifest again by itself: it gets the
    // signed values, never a hash the program vouches for.
    std::string manifest = folder + "/manifest.json";
    if (message.empty() && !WriteNewFile(manifest, ManifestText(info))) message = kCannotSave;
    if (!message.empty()) {
      RemoveTree(folder);
      return message;
    }
    staged = file + "|" + manifest;
    return std::string();
  }

  if (inst.packageType == "appimage") {
    std::string folder = FolderOf(inst.appImage);
    if (inst.appImage.empty() || folder.empty() || ::access(folder.c_str(), W_OK) != 0 ||
        ::access(inst.appImage.c_str(), W_OK) != 0)
      return CannotReplaceMessage(folder);
    std::string tmpl = folder + "/." + BaseName(inst.appImage) + ".update-XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return kCannotSave;
    std::string message = DownloadInto(fd, info, progress, tmpl);
    if (message.empty() && ::chmod(tmpl.c_str(), 0755) != 0) message = kCannotSave;
    if (!message.empty()) {
      ::unlink(tmpl.c_str());
      return message;
    }
    staged = tmpl;
    return std::string();
  }
  return kNotPackaged;
}

std::string OsDownloadAndStageUpdate(const UpdateManifestInfo& info, const UpdateProgressFn& progress,
                                     std::string& staged) {
  return StageUpdate(ThisInstallation(), info, progress, staged);
}

namespace {

bool IsPackage(const UpdateInstallation& inst) { return inst.packageType == "deb" || inst.packageType == "rpm"; }

// Starts argv with optional pipes to its stdin and from its stdout.
bool SpawnWithPipes(std::vector<std::string> argv, pid_t& pid, int* toChild, int* fromChild) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if (toChild && ::pipe2(in, O_CLOEXEC) != 0) return false;
  if (fromChild && ::pipe2(out, O_CLOEXEC) != 0) {
    if (toChild) ::close(in[0]), ::close(in[1]);
    return false;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (toChild) posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  if (fromChild) posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  std::vector<char*> args = CStrings(argv);
  int rc = argv.empty() || argv[0].empty() ? ENOENT : ::posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (toChild) ::close(in[0]);
  if (fromChild) ::close(out[1]);
  if (rc != 0) {
    if (toChild) ::close(in[1]);
    if (fromChild) ::close(out[0]);
    return false;
  }
  if (toChild) *toChild = in[1];
  if (fromChild) *fromChild = out[0];
  return true;
}

// Writes all of `text` with SIGPIPE blocked, so a program that has gone
// away makes the write fail instead of ending this process.
bool WriteWithoutSigpipe(int fd, const std::string& text) {
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  size_t done = 0;
  bool broken = false;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      broken = errno == EPIPE;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (broken) {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) {
      struct timespec zero = {0, 0};
      sigtimedwait(&block, nullptr, &zero);
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return done == text.size();
}

}  // namespace

bool OsUpdateAuthorizesFirst() {
  const UpdateInstallation& inst = ThisInstallation();
  return IsPackage(inst) && !UpdateInstallProgram(inst).empty();
}

bool OsUpdateAsksPassword() { return IsPackage(ThisInstallation()); }

std::string AuthorizeUpdate(const UpdateInstallation& inst) {
  std::string program = UpdateInstallProgram(inst);
  if (program.empty()) return kNotInstalled;
  pid_t pid = -1;
  int input = -1, output = -1;
  if (!SpawnWithPipes({SystemToolPath("pkexec"), program, "--wait"}, pid, &input, &output))
    return PasswordWindowMessage();
  std::string line;
  while (line.size() < 16) {
    char c;
    ssize_t n = ::read(output, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  ::close(output);
  if (line == "ready") {
    std::lock_guard<std::mutex> lock(g_AuthorizedMutex);
    g_Authorized = Authorized{true, pid, input};
    return std::string();
  }
  ::close(input);
  int status = WaitChild(pid);
  if (status >= 0 && WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127))
    return kCancelled;
  return kNotInstalled;
}

std::string OsAuthorizeUpdate() { return AuthorizeUpdate(ThisInstallation()); }

void OsAbandonAuthorizedUpdate() {
  Authorized a;
  {
    std::lock_guard<std::mutex> lock(g_AuthorizedMutex);
    a = g_Authorized;
    g_Authorized = Authorized{};
  }
  if (!a.active) return;
  ::close(a.input);
  WaitChild(a.pid);
}

std::string InstallStagedUpdate(const UpdateInstallation& inst, const std::string& staged) {
  if (inst.packageType == "appimage") {
    std::string folder = FolderOf(inst.appImage);
    if (!inst.appImage.empty() && !folder.empty() && FolderOf(staged) == folder &&
        ::rename(staged.c_str(), inst.appImage.c_str()) == 0) {
      if (inst.relaunch) inst.relaunch(inst.appImage);
      return std::string();
    }
    ::unlink(staged.c_str());
    return kNotInstalled;
  }
  if (!IsPackage(inst)) return kNotInstalled;

  size_t bar = staged.rfind('|');
  if (bar == std::string::npos) return kNotInstalled;
  std::string file = staged.substr(0, bar);
  std::string manifest = staged.substr(bar + 1);
  std::string folder = FolderOf(file);

  Authorized a;
  {
    std::lock_guard<std::mutex> lock(g_AuthorizedMutex);
    a = g_Authorized;
    g_Authorized = Authorized{};
  }
  int status = -1;
  std::string message;
  if (a.active) {
    bool written = WriteWithoutSigpipe(a.input, manifest + "\n" + file + "\n");
    ::close(a.input);
    status = WaitChild(a.pid);
    if (!folder.empty()) RemoveTree(folder);
    if (!written || status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return kPackageFailed;
  } else {
    // Only the installed, root-owned helper ever gets administrator rights
    // for a package; without one nothing is installed.
    std::string program = UpdateInstallProgram(inst);
    if (program.empty()) {
      if (!folder.empty()) RemoveTree(folder);
      return kNotInstalled;
    }
    pid_t pid = -1;
    bool started = SpawnWithPipes({SystemToolPath("pkexec"), program, manifest, file}, pid, nullptr, nullptr);
    if (started) status = WaitChild(pid);
    if (!folder.empty()) RemoveTree(folder);
    if (!started) return PasswordWindowMessage();
    message = StatusMessage(status);
    if (!message.empty()) return message;
  }
  if (inst.relaunch) inst.relaunch(inst.ownExe);
  return std::string();
}

std::string OsInstallStagedUpdate(const std::string& staged) {
  return InstallStagedUpdate(ThisInstallation(), staged);
}

namespace {

bool IsOwnedByMe(const std::string& path, bool& isDir) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::getuid()) return false;
  isDir = S_ISDIR(st.st_mode);
  return true;
}

void RemoveEntriesWithPrefix(const std::string& dir, const std::string& prefix) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec), end;
  std::vector<std::string> victims;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) victims.push_back(it->path().string());
  }
  for (const std::string& path : victims) {
    bool isDir = false;
    if (!IsOwnedByMe(path, isDir)) continue;
    if (isDir)
      RemoveTree(path);
    else
      ::unlink(path.c_str());
  }
}

}  // namespace

void CleanupUpdateTempFilesIn(const std::string& tempDir, const std::string& appImage) {
  RemoveEntriesWithPrefix(tempDir, DownloadFolderPrefix());
  std::string folder = FolderOf(appImage);
  if (!appImage.empty() && !folder.empty())
    RemoveEntriesWithPrefix(folder, "." + BaseName(appImage) + ".update-");
}

void CleanupUpdateTempFiles() { CleanupUpdateTempFilesIn(SystemTempDir(), OwnAppImage()); }

std::vector<std::string> RelaunchEnvironment(const std::vector<std::string>& env, const std::string& appDir) {
  if (appDir.empty()) return env;
  auto startsWith = [](const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; };
  std::vector<std::string> out;
  for (const std::string& entry : env) {
    size_t eq = entry.find('=');
    std::string name = entry.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
    if (name == "LD_LIBRARY_PATH" || name == "XDG_DATA_DIRS") {
      std::string kept;
      size_t start = 0;
      while (start <= value.size()) {
        size_t colon = value.find(':', start);
        std::string part = value.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!startsWith(part, appDir)) kept += (kept.empty() ? "" : ":") + part;
        if (colon == std::string::npos) break;
        start = colon + 1;
      }
      if (!kept.empty()) out.push_back(name + "=" + kept);
      continue;
    }
    if ((name == "GSETTINGS_SCHEMA_DIR" || name == "GIO_MODULE_DIR" || name == "GTK_PATH" ||
         name == "GTK_EXE_PREFIX" || name == "GTK_DATA_PREFIX") &&
        startsWith(value, appDir))
      continue;
    if (name == "GDK_PIXBUF_MODULE_FILE" && value.find("pellomar") != std::string::npos) continue;
    out.push_back(entry);
  }
  return out;
}

void ReopenAfterExit(const std::string& executable) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
    int fd = std::atoi(it->path().filename().c_str());
    if (fd >= 3) ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
  }
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  const char* appDir = std::getenv("APPDIR");
  env = RelaunchEnvironment(env, appDir ? appDir : "");
  std::vector<char*> envp = CStrings(env);

  std::vector<std::string> relauncher = {
      "/bin/sh", "-c", "cd /; while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; exec \"$2\"", "sh",
      std::to_string(::getpid()), executable};
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  bool started = false;
  const char* invocation = std::getenv("INVOCATION_ID");
  if (invocation && *invocation) {
    std::vector<std::string> scoped = {SystemToolPath("systemd-run"), "--user", "--scope", "--quiet", "--collect"};
    scoped.insert(scoped.end(), relauncher.begin(), relauncher.end());
    std::vector<char*> args = CStrings(scoped);
    started = !scoped[0].empty() && ::posix_spawn(&pid, args[0], nullptr, &attr, args.data(), envp.data()) == 0;
  }
  if (!started) {
    std::vector<char*> args = CStrings(relauncher);
    ::posix_spawn(&pid, args[0], nullptr, &attr, args.data(), envp.data());
  }
  posix_spawnattr_destroy(&attr);
}
