// Installing staged updates without a network: package type, staging refusals,
// the AppImage swap, deb and rpm handed to the installed helper through a
// stand-in pkexec (given through the test seam, never PATH), the relaunch
// environment and the cleanup of leftovers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "base/read_file.h"
#include "platform/linux/system_tools.h"
#include "platform/linux/update/update_linux.h"
#include "tests/support/process.h"
#include "tests/support/update_signing.h"
#include "update/update_core.h"

namespace {

void WriteText(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

TEST(UpdatePackageType, AppImageThenPackageTypeFile) {
  std::string dir = pmrtest::MakeTempDir("ptype");
  struct Case {
    const char* content;  // nullptr: no file
    const char* type;
  } cases[] = {
      {nullptr, ""},       {"deb", "deb"},          {"deb \r\n", "deb"},   {"rpm\nextra", "rpm"},
      {"DEB", ""},         {"deb\t", ""},           {" deb", ""},          {"", ""},
      {"debian", ""},      {"appimage", ""},
  };
  for (const Case& c : cases) {
    ::unlink((dir + "/package-type").c_str());
    if (c.content) WriteText(dir + "/package-type", c.content);
    EXPECT_EQ(PackageTypeFor("", dir), c.type) << (c.content ? c.content : "(none)");
    EXPECT_EQ(PackageTypeFor("/opt/x.AppImage", dir), "appimage");
  }
  // A link named package-type is not followed.
  ::unlink((dir + "/package-type").c_str());
  WriteText(dir + "/real", "deb");
  ASSERT_EQ(::symlink((dir + "/real").c_str(), (dir + "/package-type").c_str()), 0);
  EXPECT_EQ(PackageTypeFor("", dir), "");

  EXPECT_EQ(ResolveAppImage(nullptr), "");
  EXPECT_EQ(ResolveAppImage(""), "");
  EXPECT_EQ(ResolveAppImage(dir.c_str()), "");  // a folder
  EXPECT_EQ(ResolveAppImage((dir + "/missing").c_str()), "");
  ASSERT_EQ(::chdir(dir.c_str()), 0);
  EXPECT_EQ(ResolveAppImage("real"), dir + "/real");
  ASSERT_EQ(::chdir("/"), 0);
  std::filesystem::remove_all(dir);
}

TEST(UpdateStaging, RefusedBeforeAnyDownload) {
  std::string dir = pmrtest::MakeTempDir("stage-ro");
  UpdateManifestInfo info;
  info.url = "https://" + std::string(kProductDownloadHost) + "/x";
  info.sha256 = std::string(64, 'a');
  std::string staged = "old";

  UpdateInstallation none;
  EXPECT_EQ(StageUpdate(none, info, nullptr, staged),
            "Update failed: this copy of Pellomar wasn't installed from a package.");
  EXPECT_EQ(staged, "");

  UpdateInstallation deb;
  deb.packageType = "deb";
  UpdateManifestInfo httpInfo = info;
  httpInfo.url = "http://" + std::string(kProductDownloadHost) + "/x";
  EXPECT_EQ(StageUpdate(deb, httpInfo, nullptr, staged), "Update failed: the download link was not valid.");

  // An AppImage at the root (no folder part) or in a folder that is not there.
  UpdateInstallation app;
  app.packageType = "appimage";
  app.appImage = "/Pellomar.AppImage";
  EXPECT_EQ(StageUpdate(app, info, nullptr, staged),
            "Update failed: Pellomar can't replace its own file in its folder. Download the new version from " +
                std::string(kProductWebHost) + " instead.");
  app.appImage = dir + "/missing-folder/Pellomar.AppImage";
  EXPECT_EQ(StageUpdate(app, info, nullptr, staged),
            "Update failed: Pellomar can't replace its own file in " + dir +
                "/missing-folder. Download the new version from " + std::string(kProductWebHost) + " instead.");
  EXPECT_EQ(staged, "");
  std::filesystem::remove_all(dir);
}

class StagedInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pmrtest::MakeTempDir("install");
    bin_ = dir_ + "/bin";
    res_ = dir_ + "/res";
    ::mkdir(bin_.c_str(), 0755);
    ::mkdir(res_.c_str(), 0755);
    log_ = dir_ + "/log";
    // pkexec stand-in, given to the program through its test seam: runs the
    // command as given, unless told to answer as a dismissed dialog would.
    WriteText(bin_ + "/pkexec",
              "#!/bin/sh\n"
              "[ -f '" + dir_ + "/pkexec-exit' ] && exit $(cat '" + dir_ + "/pkexec-exit')\n"
              "echo \"pkexec $*\" >> '" + log_ + "'\n"
              "exec \"$@\"\n",
              0755);
    SetSystemToolForTest("pkexec", bin_ + "/pkexec");
    // The installed helper stand-in: records what it was handed, checks the
    // manifest is beside the package, and fails when told to.
    WriteText(res_ + "/update-install",
              "#!/bin/sh\n"
              "if [ \"$1\" = --wait ]; then echo ready; read -r m; read -r p; else m=$1; p=$2; fi\n"
              "echo \"helper $m $p\" >> '" + log_ + "'\n"
              "[ -f \"$m\" ] && [ -f \"$p\" ] || exit 4\n"
              "[ -f '" + dir_ + "/helper-exit' ] && exit $(cat '" + dir_ + "/helper-exit')\n"
              "exit 0\n",
              0755);
  }
  void TearDown() override {
    SetSystemToolForTest("pkexec", "");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A staged package as the download step leaves it: the package and its
  // manifest in a private folder.
  std::string Stage(const std::string& type, const std::string& content, std::string& folder) {
    folder = dir_ + "/Pellomar-update-free-" + std::to_string(++n_);
    ::mkdir(folder.c_str(), 0700);
    std::string file = folder + "/update." + type;
    WriteText(file, content, 0600);
    WriteText(folder + "/manifest.json", "{}", 0600);
    return file + "|" + folder + "/manifest.json";
  }
  UpdateInstallation Inst(const std::string& type) {
    UpdateInstallation i;
    i.packageType = type;
    i.resourceDir = res_;
    i.ownExe = "/usr/lib/pellomar/pellomar";
    i.relaunch = [this](const std::string& exe) { relaunched_.push_back(exe); };
    return i;
  }

  std::string dir_, bin_, res_, log_;
  std::vector<std::string> relaunched_;
  int n_ = 0;
};

TEST_F(StagedInstall, PackageThroughTheInstalledHelperAndItsExitStatuses) {
  struct Case {
    const char* what;
    const char* pkexecExit;  // nullptr: pkexec runs the helper
    const char* helperExit;  // nullptr: the helper installs
    std::string message;
  } cases[] = {
      {"installed", nullptr, nullptr, ""},
      {"password dialog dismissed", "126", nullptr,
       "Update cancelled: the system password wasn't given. Nothing was changed."},
      {"not authorized", "127", nullptr, "Update cancelled: the system password wasn't given. Nothing was changed."},
      {"helper refuses", nullptr, "9", "Update failed: the package could not be installed. Nothing was changed."},
  };
  for (const std::string type : {"deb", "rpm"}) {
    for (const Case& c : cases) {
      ::unlink((dir_ + "/pkexec-exit").c_str());
      ::unlink((dir_ + "/helper-exit").c_str());
      ::unlink(log_.c_str());
      if (c.pkexecExit) WriteText(dir_ + "/pkexec-exit", c.pkexecExit);
      if (c.helperExit) WriteText(dir_ + "/helper-exit", c.helperExit);
      relaunched_.clear();
      std::string folder;
      std::string staged = Stage(type, std::string("package ") + c.what, folder);
      EXPECT_EQ(InstallStagedUpdate(Inst(type), staged), c.message) << c.what;
      EXPECT_FALSE(Exists(folder)) << c.what;
      EXPECT_EQ(relaunched_.size(), c.message.empty() ? 1u : 0u) << c.what;
      if (c.message.empty()) {
        EXPECT_EQ(relaunched_[0], "/usr/lib/pellomar/pellomar");
        // The helper gets the signed manifest and the package, never a hash.
        EXPECT_EQ(ReadFile(log_), "pkexec " + res_ + "/update-install " + folder + "/manifest.json " + folder +
                                      "/update." + type + "\nhelper " + folder + "/manifest.json " + folder +
                                      "/update." + type + "\n");
      }
    }
  }
  EXPECT_EQ(InstallStagedUpdate(Inst("rpm"), "no-bar-here"),
            "Update failed: the update could not be installed. Nothing was changed.");
  std::string folder;
  EXPECT_EQ(InstallStagedUpdate(Inst(""), Stage("deb", "x", folder)),
            "Update failed: the update could not be installed. Nothing was changed.");
}

// Administrator rights go only to a helper that only root can have put in
// place; without one a package is never installed (no script through pkexec).
TEST_F(StagedInstall, OnlyARootOwnedHelperIsStarted) {
  struct Case {
    const char* what;
    std::function<void()> spoil;
  } cases[] = {
      {"no helper", [&] { ::unlink((res_ + "/update-install").c_str()); }},
      {"helper writable by others", [&] { ::chmod((res_ + "/update-install").c_str(), 0777); }},
      {"helper owned by another user", [&] { ASSERT_EQ(::chown((res_ + "/update-install").c_str(), 65534, 65534), 0); }},
      {"folder writable by others", [&] { ::chmod(res_.c_str(), 0777); }},
      {"helper is a link", [&] {
         ::rename((res_ + "/update-install").c_str(), (dir_ + "/real-helper").c_str());
         ASSERT_EQ(::symlink((dir_ + "/real-helper").c_str(), (res_ + "/update-install").c_str()), 0);
       }},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    c.spoil();
    std::string folder;
    std::string staged = Stage("deb", "package", folder);
    EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged),
              "Update failed: the update could not be installed. Nothing was changed.")
        << c.what;
    EXPECT_EQ(AuthorizeUpdate(Inst("deb")), "Update failed: the update could not be installed. Nothing was changed.")
        << c.what;
    UpdateManifestInfo info;
    info.url = "https://" + std::string(kProductDownloadHost) + "/x";
    std::string none;
    EXPECT_EQ(StageUpdate(Inst("deb"), info, nullptr, none),
              "Update failed: this copy of Pellomar wasn't installed from a package.")
        << c.what;
    EXPECT_FALSE(Exists(log_)) << c.what << ": " << ReadFile(log_);  // pkexec never ran
    EXPECT_FALSE(Exists(folder)) << c.what;
    EXPECT_TRUE(relaunched_.empty()) << c.what;
  }
}

TEST_F(StagedInstall, PreAuthorizedInstallProgram) {
  std::string folder;
  std::string staged = Stage("deb", "authorized package", folder);
  std::string manifest = staged.substr(staged.rfind('|') + 1);
  ASSERT_EQ(AuthorizeUpdate(Inst("deb")), "");
  EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged), "");
  EXPECT_EQ(ReadFile(log_), "pkexec " + res_ + "/update-install --wait\nhelper " + manifest + " " + folder +
                                "/update.deb\n");
  EXPECT_FALSE(Exists(folder));
  EXPECT_EQ(relaunched_.size(), 1u);

  // Dismissed dialog before "ready"; a helper that refuses after "ready".
  WriteText(dir_ + "/pkexec-exit", "126");
  EXPECT_EQ(AuthorizeUpdate(Inst("deb")), "Update cancelled: the system password wasn't given. Nothing was changed.");
  ::unlink((dir_ + "/pkexec-exit").c_str());
  ASSERT_EQ(AuthorizeUpdate(Inst("deb")), "");
  WriteText(dir_ + "/helper-exit", "6");
  staged = Stage("deb", "authorized package", folder);
  EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged),
            "Update failed: the package could not be installed. Nothing was changed.");
  EXPECT_FALSE(Exists(folder));

  // Abandoning a waiting program ends it.
  ASSERT_EQ(AuthorizeUpdate(Inst("deb")), "");
  OsAbandonAuthorizedUpdate();
  OsAbandonAuthorizedUpdate();  // nothing left to abandon

  // No pkexec at all: the password window cannot open.
  SetSystemToolForTest("pkexec", dir_ + "/nowhere/pkexec");
  EXPECT_EQ(AuthorizeUpdate(Inst("deb")),
            "Update failed: the system password window couldn't open. Download the new version from " +
                std::string(kProductWebHost) + " instead.");
  staged = Stage("deb", "x", folder);
  EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged),
            "Update failed: the system password window couldn't open. Download the new version from " +
                std::string(kProductWebHost) + " instead.");
  EXPECT_FALSE(Exists(folder));
}

// A pkexec or systemd-run earlier in PATH (say ~/.local/bin) could show its
// own password box and receive the update: the program never looks there.
TEST_F(StagedInstall, ProgramsEarlierInPathAreNeverStarted) {
  std::string trap = dir_ + "/trap";
  ::mkdir(trap.c_str(), 0755);
  for (const char* name : {"pkexec", "systemd-run"})
    WriteText(trap + "/" + name, "#!/bin/sh\necho \"" + std::string(name) + " from PATH\" >> '" + dir_ + "/trapped'\n", 0755);
  std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  ::setenv("PATH", (trap + ":" + oldPath).c_str(), 1);
  SetSystemToolForTest("pkexec", "");  // the system's own lookup
  for (const char* name : {"pkexec", "systemd-run", "sh"}) {
    std::string found = SystemToolPath(name);
    EXPECT_TRUE(found.empty() || found.rfind("/usr/", 0) == 0 || found.rfind("/bin/", 0) == 0 ||
                found.rfind("/sbin/", 0) == 0)
        << name << ": " << found;
  }
  if (SystemToolPath("pkexec").empty()) {
    // No pkexec in the system's directories: the update cannot ask for the
    // password, and the one in PATH is not taken instead.
    const std::string noWindow = "Update failed: the system password window couldn't open. Download the new "
                                 "version from " + std::string(kProductWebHost) + " instead.";
    std::string folder;
    EXPECT_EQ(AuthorizeUpdate(Inst("deb")), noWindow);
    EXPECT_EQ(InstallStagedUpdate(Inst("deb"), Stage("deb", "package", folder)), noWindow);
  }
  if (SystemToolPath("systemd-run").empty()) {
    ::setenv("INVOCATION_ID", "0123456789abcdef", 1);
    ReopenAfterExit("/bin/true");
    ::unsetenv("INVOCATION_ID");
  }
  ::setenv("PATH", oldPath.c_str(), 1);
  EXPECT_FALSE(Exists(dir_ + "/trapped")) << ReadFile(dir_ + "/trapped");
}

TEST_F(StagedInstall, AppImageSwapOnlyBesideItself) {
  std::string appDir = dir_ + "/apps";
  ::mkdir(appDir.c_str(), 0755);
  UpdateInstallation inst = Inst("appimage");
  inst.appImage = appDir + "/Pellomar.AppImage";
  WriteText(inst.appImage, "old version", 0755);

  // A staged file elsewhere is removed and the AppImage kept.
  std::string elsewhere = dir_ + "/.Pellomar.AppImage.update-abc";
  WriteText(elsewhere, "new version", 0755);
  EXPECT_EQ(InstallStagedUpdate(inst, elsewhere),
            "Update failed: the update could not be installed. Nothing was changed.");
  EXPECT_FALSE(Exists(elsewhere));
  EXPECT_EQ(ReadFile(inst.appImage), "old version");
  EXPECT_TRUE(relaunched_.empty());

  std::string beside = appDir + "/.Pellomar.AppImage.update-abc";
  WriteText(beside, "new version", 0755);
  EXPECT_EQ(InstallStagedUpdate(inst, beside), "");
  EXPECT_EQ(ReadFile(inst.appImage), "new version");
  EXPECT_FALSE(Exists(beside));
  ASSERT_EQ(relaunched_.size(), 1u);
  EXPECT_EQ(relaunched_[0], inst.appImage);
}

TEST(UpdateRelaunch, EnvironmentOfAnAppImageRuntimeIsRemoved) {
  std::vector<std::string> env = {
      "HOME=/home/u",
      "LD_LIBRARY_PATH=/tmp/.mount_P/usr/lib:/opt/lib:/tmp/.mount_P/lib",
      "XDG_DATA_DIRS=/tmp/.mount_P/usr/share",
      "GTK_PATH=/tmp/.mount_P/usr/lib/gtk-3.0",
      "GTK_EXE_PREFIX=/usr",
      "GIO_MODULE_DIR=/tmp/.mount_P/gio",
      "GSETTINGS_SCHEMA_DIR=/tmp/.mount_P/schemas",
      "GTK_DATA_PREFIX=/tmp/.mount_P",
      "GDK_PIXBUF_MODULE_FILE=/tmp/pellomar-pixbuf/loaders.cache",
      "APPDIR=/tmp/.mount_P",
      "PATH=/tmp/.mount_P/usr/bin:/usr/bin",
  };
  std::vector<std::string> expected = {
      "HOME=/home/u", "LD_LIBRARY_PATH=/opt/lib", "GTK_EXE_PREFIX=/usr", "APPDIR=/tmp/.mount_P",
      "PATH=/tmp/.mount_P/usr/bin:/usr/bin",
  };
  EXPECT_EQ(RelaunchEnvironment(env, "/tmp/.mount_P"), expected);
  EXPECT_EQ(RelaunchEnvironment(env, ""), env);
}

// Inside a systemd user unit the relauncher is started in a scope of its own,
// so it outlives the unit of the program that ends.
TEST(UpdateRelaunch, InsideASystemdUnitRunsInItsOwnScope) {
  std::string dir = pmrtest::MakeTempDir("relaunch");
  std::string log = dir + "/systemd-run.log";
  WriteText(dir + "/systemd-run",
            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + log + ".part'\n"
            "mv '" + log + ".part' '" + log + "'\n",
            0755);
  SetSystemToolForTest("systemd-run", dir + "/systemd-run");
  ::setenv("INVOCATION_ID", "0123456789abcdef", 1);
  ReopenAfterExit("/opt/pellomar/pellomar");
  ::unsetenv("INVOCATION_ID");
  SetSystemToolForTest("systemd-run", "");
  // The stand-in runs in its own session; wait until it has written its log.
  std::string text;
  for (int i = 0; i < 3000 && (text = ReadFile(log)).empty(); ++i) ::usleep(10000);
  std::vector<std::string> expected = {
      "--user", "--scope", "--quiet", "--collect", "/bin/sh", "-c",
      "cd /; while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; exec \"$2\"", "sh",
      std::to_string(::getpid()), "/opt/pellomar/pellomar"};
  std::string joined;
  for (const std::string& a : expected) joined += a + "\n";
  EXPECT_EQ(text, joined);
  std::filesystem::remove_all(dir);
}

TEST(UpdateHttps, CaBundleFromTheEnvironmentFirst) {
  std::string dir = pmrtest::MakeTempDir("ca");
  WriteText(dir + "/a.pem", "a");
  WriteText(dir + "/b.pem", "b");
  std::string system;
  for (const char* p : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
                        "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem", "/etc/ssl/ca-bundle.pem",
                        "/etc/ssl/cert.pem"})
    if (system.empty() && ::access(p, R_OK) == 0) system = p;
  struct Case {
    const char* curl;  // nullptr: unset
    const char* ssl;
    std::string chosen;
  } cases[] = {
      {"a.pem", "b.pem", dir + "/a.pem"},
      {"missing.pem", "b.pem", dir + "/b.pem"},
      {"", "b.pem", dir + "/b.pem"},
      {nullptr, "missing.pem", system},
      {nullptr, nullptr, system},
  };
  for (const Case& c : cases) {
    auto set = [&dir](const char* name, const char* file) {
      if (!file) ::unsetenv(name);
      else ::setenv(name, *file ? (dir + "/" + file).c_str() : "", 1);
    };
    set("CURL_CA_BUNDLE", c.curl);
    set("SSL_CERT_FILE", c.ssl);
    EXPECT_EQ(LinuxChooseCaBundle(), c.chosen) << (c.curl ? c.curl : "-") << " " << (c.ssl ? c.ssl : "-");
  }
  ::unsetenv("CURL_CA_BUNDLE");
  ::unsetenv("SSL_CERT_FILE");
  std::filesystem::remove_all(dir);
}

TEST(UpdateCleanup, RemovesOnlyOurLeftovers) {
  std::string tmp = pmrtest::MakeTempDir("cleanup");
  std::string apps = pmrtest::MakeTempDir("cleanup-apps");
  std::string outside = pmrtest::MakeTempDir("cleanup-outside");
  WriteText(outside + "/keep", "precious");

  std::string folder = tmp + "/Pellomar-update-free-AbC123";
  ::mkdir(folder.c_str(), 0700);
  ::mkdir((folder + "/sub").c_str(), 0700);
  WriteText(folder + "/sub/update.deb", "x");
  ASSERT_EQ(::symlink(outside.c_str(), (folder + "/link").c_str()), 0);
  WriteText(tmp + "/Pellomar-update-free-file", "x");
  WriteText(tmp + "/Pellomar-update-pro-other", "x");
  WriteText(tmp + "/unrelated", "x");
  std::string notMine = tmp + "/Pellomar-update-free-nobody";
  WriteText(notMine, "x");
  ASSERT_EQ(::chown(notMine.c_str(), 65534, 65534), 0);

  std::string appImage = apps + "/Pellomar.AppImage";
  WriteText(appImage, "app", 0755);
  WriteText(apps + "/.Pellomar.AppImage.update-Xy12", "partial");
  WriteText(apps + "/.Other.AppImage.update-Xy12", "x");

  CleanupUpdateTempFilesIn(tmp, appImage);
  EXPECT_FALSE(Exists(folder));
  EXPECT_FALSE(Exists(tmp + "/Pellomar-update-free-file"));
  EXPECT_TRUE(Exists(tmp + "/Pellomar-update-pro-other"));
  EXPECT_TRUE(Exists(tmp + "/unrelated"));
  EXPECT_TRUE(Exists(notMine));
  EXPECT_EQ(ReadFile(outside + "/keep"), "precious");
  EXPECT_TRUE(Exists(appImage));
  EXPECT_FALSE(Exists(apps + "/.Pellomar.AppImage.update-Xy12"));
  EXPECT_TRUE(Exists(apps + "/.Other.AppImage.update-Xy12"));

  CleanupUpdateTempFilesIn(tmp + "/missing", "");  // nothing to do, no failure
  for (const std::string& d : {tmp, apps, outside}) std::filesystem::remove_all(d);
}

}  // namespace
