// Installing staged updates without a network: package type, staging refusals,
// the AppImage swap, deb and rpm through a stand-in pkexec, the relaunch
// environment and the cleanup of leftovers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/read_file.h"
#include "platform/linux/update/update_linux.h"
#include "tests/support/process.h"
#include "tests/support/update_signing.h"

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
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    // pkexec stand-in: runs the command as given, with package tools that
    // only record what they were asked to do.
    WriteText(bin_ + "/pkexec",
              "#!/bin/sh\n"
              "[ -f '" + dir_ + "/pkexec-exit' ] && exit $(cat '" + dir_ + "/pkexec-exit')\n"
              "echo \"pkexec $*\" >> '" + log_ + "'\n"
              "PATH='" + dir_ + "/tools':$PATH exec \"$@\"\n",
              0755);
    ::mkdir((dir_ + "/tools").c_str(), 0755);
    WriteText(dir_ + "/tools/apt-get",
              "#!/bin/sh\necho \"apt-get $*\" >> '" + log_ + "'\n"
              "[ -f '" + dir_ + "/tool-exit' ] && exit $(cat '" + dir_ + "/tool-exit')\nexit 0\n",
              0755);
    WriteText(dir_ + "/tools/rpm", "#!/bin/sh\necho \"rpm $*\" >> '" + log_ + "'\nexit 0\n", 0755);
    ::setenv("PATH", (bin_ + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", oldPath_.c_str(), 1);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A staged package as the download step leaves it.
  std::string Stage(const std::string& type, const std::string& content, std::string& folder) {
    folder = dir_ + "/Pellomar-update-free-" + std::to_string(++n_);
    ::mkdir(folder.c_str(), 0700);
    std::string file = folder + "/update." + type;
    WriteText(file, content, 0600);
    return file + "|" + pmrtest::Sha256Hex(content);
  }
  UpdateInstallation Inst(const std::string& type) {
    UpdateInstallation i;
    i.packageType = type;
    i.resourceDir = res_;
    i.ownExe = "/usr/lib/pellomar/pellomar";
    i.relaunch = [this](const std::string& exe) { relaunched_.push_back(exe); };
    return i;
  }

  std::string dir_, bin_, res_, log_, oldPath_;
  std::vector<std::string> relaunched_;
  int n_ = 0;
};

TEST_F(StagedInstall, DebThroughTheScriptAndItsExitStatuses) {
  struct Case {
    const char* what;
    const char* pkexecExit;  // nullptr: pkexec runs the command
    const char* toolExit;    // nullptr: the package tool succeeds
    std::string message;
  } cases[] = {
      {"installed", nullptr, nullptr, ""},
      {"password dialog dismissed", "126", nullptr,
       "Update cancelled: the system password wasn't given. Nothing was changed."},
      {"not authorized", "127", nullptr, "Update cancelled: the system password wasn't given. Nothing was changed."},
      {"package tool fails", nullptr, "100", "Update failed: the package could not be installed. Nothing was changed."},
  };
  for (const Case& c : cases) {
    ::unlink((dir_ + "/pkexec-exit").c_str());
    ::unlink((dir_ + "/tool-exit").c_str());
    ::unlink(log_.c_str());
    if (c.pkexecExit) WriteText(dir_ + "/pkexec-exit", c.pkexecExit);
    if (c.toolExit) WriteText(dir_ + "/tool-exit", c.toolExit);
    relaunched_.clear();
    std::string folder;
    std::string staged = Stage("deb", std::string("package ") + c.what, folder);
    EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged), c.message) << c.what;
    EXPECT_FALSE(Exists(folder)) << c.what;
    EXPECT_EQ(relaunched_.size(), c.message.empty() ? 1u : 0u) << c.what;
    if (c.message.empty()) {
      EXPECT_EQ(relaunched_[0], "/usr/lib/pellomar/pellomar");
      std::string log = ReadFile(log_);
      EXPECT_NE(log.find("pkexec /bin/sh -c # Pellomar update"), std::string::npos) << log;
      EXPECT_NE(log.find("apt-get install -y --allow-downgrades /"), std::string::npos) << log;
    }
  }
}

TEST_F(StagedInstall, ScriptRefusesAFileThatChangedAfterTheCheck) {
  std::string folder;
  std::string staged = Stage("rpm", "the package", folder);
  // The file on disk no longer matches the hash handed to the script.
  WriteText(staged.substr(0, staged.rfind('|')), "other bytes", 0600);
  EXPECT_EQ(InstallStagedUpdate(Inst("rpm"), staged),
            "Update failed: the package could not be installed. Nothing was changed.");
  std::string log = ReadFile(log_);
  EXPECT_NE(log.find("pkexec /bin/sh -c # Pellomar update"), std::string::npos) << log;
  EXPECT_EQ(log.find("\nrpm "), std::string::npos) << log;  // the package tool never ran
  EXPECT_FALSE(Exists(folder));

  EXPECT_EQ(InstallStagedUpdate(Inst("rpm"), "no-bar-here"),
            "Update failed: the update could not be installed. Nothing was changed.");
  EXPECT_EQ(InstallStagedUpdate(Inst(""), staged),
            "Update failed: the update could not be installed. Nothing was changed.");
  EXPECT_TRUE(relaunched_.empty());
}

TEST_F(StagedInstall, PreAuthorizedInstallProgram) {
  // The install program prints "ready" once it runs as administrator, then
  // reads the staged path and installs it.
  WriteText(res_ + "/update-install",
            "#!/bin/sh\n"
            "[ \"$1\" = --wait ] || exit 3\n"
            "echo ready\n"
            "read -r path\n"
            "echo \"install $path $2\" >> '" + log_ + "'\n"
            "[ -f \"$path\" ] && [ \"$(sha256sum < \"$path\" | cut -c1-64)\" = \"$2\" ]\n",
            0755);
  std::string folder;
  std::string staged = Stage("deb", "authorized package", folder);
  std::string hash = staged.substr(staged.rfind('|') + 1);
  ASSERT_EQ(AuthorizeUpdate(Inst("deb"), hash), "");
  EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged), "");
  EXPECT_NE(ReadFile(log_).find("install " + folder + "/update.deb " + hash), std::string::npos) << ReadFile(log_);
  EXPECT_FALSE(Exists(folder));
  EXPECT_EQ(relaunched_.size(), 1u);

  // Dismissed dialog before "ready"; a program that fails after "ready".
  WriteText(dir_ + "/pkexec-exit", "126");
  EXPECT_EQ(AuthorizeUpdate(Inst("deb"), hash),
            "Update cancelled: the system password wasn't given. Nothing was changed.");
  ::unlink((dir_ + "/pkexec-exit").c_str());
  ASSERT_EQ(AuthorizeUpdate(Inst("deb"), std::string(64, '0')), "");
  staged = Stage("deb", "authorized package", folder);
  EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged),
            "Update failed: the package could not be installed. Nothing was changed.");
  EXPECT_FALSE(Exists(folder));

  // Abandoning a waiting program ends it.
  ASSERT_EQ(AuthorizeUpdate(Inst("deb"), hash), "");
  OsAbandonAuthorizedUpdate();
  OsAbandonAuthorizedUpdate();  // nothing left to abandon

  // No pkexec at all: the password window cannot open.
  ::setenv("PATH", (dir_ + "/nowhere").c_str(), 1);
  EXPECT_EQ(AuthorizeUpdate(Inst("deb"), hash),
            "Update failed: the system password window couldn't open. Download the new version from " +
                std::string(kProductWebHost) + " instead.");
  staged = Stage("deb", "x", folder);
  EXPECT_EQ(InstallStagedUpdate(Inst("deb"), staged),
            "Update failed: the system password window couldn't open. Download the new version from " +
                std::string(kProductWebHost) + " instead.");
  EXPECT_FALSE(Exists(folder));
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
  std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  ::setenv("PATH", (dir + ":" + oldPath).c_str(), 1);
  ::setenv("INVOCATION_ID", "0123456789abcdef", 1);
  ReopenAfterExit("/opt/pellomar/pellomar");
  ::unsetenv("INVOCATION_ID");
  ::setenv("PATH", oldPath.c_str(), 1);
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
