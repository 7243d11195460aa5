// update-install: installs a downloaded Pellomar package as root. Started
// through pkexec (polkit action app.pellomar.free.update) from the installed
// program's resource directory:
//   update-install MANIFEST PACKAGE   checks and installs at once
//   update-install --wait             prints "ready" once it runs as root,
//                                     then reads MANIFEST and PACKAGE, one
//                                     line each, from its standard input
// It trusts nothing its caller says. The manifest must carry a signature of
// one of the release keys built into this program; the hash the package must
// have comes from that manifest; the package is copied where only root can
// write before it is checked, so it cannot change between the check and the
// install; the manifest's version must be newer than the version of the
// installed package; and the package must be pellomar in exactly that
// version. The package tools are started from the system's directories with a
// fixed environment, and never asked to downgrade or to skip signatures.
//
// Exit status: 0 installed; 2 wrong arguments; 3 nothing to read; 4 the
// manifest is not signed by a release key (or is malformed, or for another
// channel); 5 the package cannot be read; 6 the package does not match the
// manifest's hash; 7 the package is not pellomar in the manifest's version;
// 8 no installed pellomar package to update; 9 the manifest offers no newer
// version than the installed one; 10 the package tool failed. 126 and 127 are
// left to pkexec (dialog dismissed, not authorized).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/read_file.h"
#include "platform/linux/system_tools.h"
#include "platform/os_update.h"
#include "update/update_core.h"

namespace {

enum Exit {
  kInstalled = 0,
  kUsage = 2,
  kNoInput = 3,
  kManifestRefused = 4,
  kUnreadable = 5,
  kHashMismatch = 6,
  kNotThePackage = 7,
  kNotInstalled = 8,
  kNotNewer = 9,
  kToolFailed = 10,
};

// The largest package accepted: the program downloads at most this much.
constexpr off_t kMaxPackageBytes = 314572800;
constexpr const char* kPackageName = "pellomar";

int Refuse(int code, const std::string& why) {
  std::fprintf(stderr, "update-install: %s\n", why.c_str());
  return code;
}

bool ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    char c;
    ssize_t n = ::read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line.empty();
    if (c == '\n') return true;
    if (line.size() >= 4096) return false;
    line += c;
  }
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string FirstLine(std::string text) {
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

// Copies the caller's file into `to` (created here, mode 0600). The source's
// last component is never a link, and only a regular file is read.
int CopyPackage(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return Refuse(kUnreadable, "cannot open the package " + from);
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPackageBytes) {
    ::close(in);
    return Refuse(kUnreadable, "the package is not a regular file of at most 300 MiB");
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    ::close(in);
    return Refuse(kUnreadable, "cannot create the private copy");
  }
  std::vector<char> block(1 << 16);
  off_t total = 0;
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    total += n;
    if (total > kMaxPackageBytes) {
      ok = false;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      ssize_t w = ::write(out, block.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) ok = false;
      else done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  return ok ? kInstalled : Refuse(kUnreadable, "cannot copy the package");
}

// The version of the installed pellomar package, "" when there is none.
std::string InstalledVersion(const std::string& kind) {
  std::string out;
  int rc = kind == "deb" ? RunSystemTool("dpkg-query", {"-W", "-f=${Version}", kPackageName}, &out)
                         : RunSystemTool("rpm", {"-q", "--queryformat", "%{VERSION}", kPackageName}, &out);
  return rc == 0 ? FirstLine(out) : std::string();
}

// The name and version the package file declares.
bool PackageIdentity(const std::string& kind, const std::string& file, std::string& name, std::string& version) {
  std::string out;
  if (kind == "deb") {
    if (RunSystemTool("dpkg-deb", {"-f", file, "Package"}, &out) != 0) return false;
    name = FirstLine(out);
    if (RunSystemTool("dpkg-deb", {"-f", file, "Version"}, &out) != 0) return false;
    version = FirstLine(out);
  } else {
    if (RunSystemTool("rpm", {"-qp", "--queryformat", "%{NAME}\n", file}, &out) != 0) return false;
    name = FirstLine(out);
    if (RunSystemTool("rpm", {"-qp", "--queryformat", "%{VERSION}\n", file}, &out) != 0) return false;
    version = FirstLine(out);
  }
  return true;
}

int InstallPackage(const std::string& kind, const std::string& file) {
  int rc;
  if (kind == "deb") {
    rc = !SystemToolPath("apt-get").empty() ? RunSystemTool("apt-get", {"install", "-y", file})
                                            : RunSystemTool("dpkg", {"-i", file});
  } else {
    rc = RunSystemTool("rpm", {"-U", "--quiet", file});
    if (rc != 0 && !SystemToolPath("dnf").empty())
      rc = RunSystemTool("dnf", {"install", "-y", file});
    else if (rc != 0 && !SystemToolPath("zypper").empty())
      rc = RunSystemTool("zypper", {"--non-interactive", "install", file});
  }
  return rc == 0 ? kInstalled : Refuse(kToolFailed, "the package tool could not install the package");
}

int CheckAndInstall(const std::string& manifestPath, const std::string& package, const std::string& folder) {
  std::string kind = EndsWith(package, ".deb") ? "deb" : EndsWith(package, ".rpm") ? "rpm" : "";
  if (package.empty() || package[0] != '/' || kind.empty())
    return Refuse(kUsage, "the package must be an absolute path ending in .deb or .rpm");

  std::string manifest;
  ReadLimits limits;
  limits.maxBytes = kMaxManifestBytes;
  limits.followLinks = false;
  if (manifestPath.empty() || manifestPath[0] != '/' ||
      ReadFileCapped(manifestPath, manifest, limits) != ReadStatus::kOk || manifest.empty())
    return Refuse(kManifestRefused, "no readable signed manifest");

  // The private copy first: everything below looks only at it.
  std::string copy = folder + "/update." + kind;
  if (int rc = CopyPackage(package, copy); rc != kInstalled) return rc;

  const std::string tier = std::string("linux-") + kBuildEdition + "-" + kind;
  UpdateManifestInfo info;
  // Judged once with the lowest version, to tell a refused signature apart
  // from an offer that is not newer.
  if (!LinuxEvaluateReleaseManifest(manifest, tier, "0.0.0", info))
    return Refuse(kManifestRefused, "the manifest is not signed by a release key or not for " + tier);
  std::string installed = InstalledVersion(kind);
  if (installed.empty()) return Refuse(kNotInstalled, "no installed pellomar package to update");
  if (!LinuxEvaluateReleaseManifest(manifest, tier, installed, info))
    return Refuse(kNotNewer, "the manifest offers " + info.version + ", not newer than the installed " + installed);

  if (LinuxSha256File(copy) != info.sha256)
    return Refuse(kHashMismatch, "the package does not match the signed manifest");
  std::string name, version;
  if (!PackageIdentity(kind, copy, name, version) || name != kPackageName || version != info.version)
    return Refuse(kNotThePackage, "the package is not pellomar " + info.version);
  return InstallPackage(kind, copy);
}

}  // namespace

int main(int argc, char** argv) {
  std::string manifest, package;
  if (argc == 2 && std::string(argv[1]) == "--wait") {
    std::printf("ready\n");
    std::fflush(stdout);
    if (!ReadLine(manifest) || !ReadLine(package)) return Refuse(kNoInput, "no manifest and package given");
  } else if (argc == 3) {
    manifest = argv[1];
    package = argv[2];
  } else {
    return Refuse(kUsage, "usage: update-install MANIFEST PACKAGE | update-install --wait");
  }
  // Nothing the package tools print may reach the caller's pipe.
  ::dup2(2, 1);
  char tmpl[] = "/tmp/pellomar-install-XXXXXX";
  if (!::mkdtemp(tmpl)) return Refuse(kUnreadable, "cannot create a private folder");
  int rc = CheckAndInstall(manifest, package, tmpl);
  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
  return rc;
}
