// The update check and download against local HTTPS servers: a test
// certificate authority made for the run, the product's host names leading to
// 127.0.0.1 in a private network and hosts file (private-net.sh), and every
// attack refused with nothing left in the staging places.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/read_file.h"
#include "platform/linux/update/update_linux.h"
#include "tests/support/process.h"
#include "tests/support/update_signing.h"
#include "app/update_flow.h"

namespace {

const std::string kWeb = std::string("https://") + kProductWebHost;
const std::string kDl = std::string("https://") + kProductDownloadHost;
const char kIncomplete[] = "Update failed: the download did not complete. Check your connection and try again.";
const char kMismatch[] = "Update failed: the download did not match the signed update. Nothing was changed.";

void WriteText(const std::string& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  ::chmod(path.c_str(), mode);
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Reads one line from a child's stdout, waiting at most `seconds`.
std::string ReadLine(int fd, double seconds) {
  std::string line;
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c;
    if (::read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return line;
}

class UpdateNet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = pmrtest::MakeTempDir("update-net");
    ASSERT_EQ(pmrtest::Run({PMR_SOURCE_DIR "/tests/update/make-test-ca.sh", dir_}), 0);
    www_ = dir_ + "/www";
    tmp_ = dir_ + "/tmp";
    apps_ = dir_ + "/apps";
    // Packages are staged only where the root-owned install helper is in place.
    res_ = dir_ + "/res";
    ::mkdir(res_.c_str(), 0755);
    WriteText(res_ + "/update-install", "#!/bin/sh\nexit 1\n", 0755);
    for (const std::string& d : {www_, www_ + "/m", tmp_, apps_}) ::mkdir(d.c_str(), 0755);

    std::mt19937 rng(7);
    payload_.resize(600 * 1024);
    for (char& c : payload_) c = static_cast<char>(rng());
    WriteText(www_ + "/payload.bin", payload_);
    WriteText(www_ + "/other.bin", payload_.substr(0, payload_.size() - 1) + "!");
    appImage_ = apps_ + "/Pellomar.AppImage";
    WriteText(appImage_, "the running version", 0755);

    good_ = StartServer("good", 443);
    expired_ = StartServer("expired", 0);
    wrongName_ = StartServer("wrongname", 0);

    // The process-wide choices (CA bundle, temporary folder, package type)
    // are made on first use, after these.
    ::setenv("CURL_CA_BUNDLE", (dir_ + "/ca.pem").c_str(), 1);
    ::setenv("TMPDIR", tmp_.c_str(), 1);
    ::setenv("APPIMAGE", appImage_.c_str(), 1);
  }

  static void TearDownTestSuite() {
    for (Server* s : {&good_, &expired_, &wrongName_}) {
      if (s->child.pid > 0) {
        ::kill(s->child.pid, SIGTERM);
        pmrtest::WaitFor(s->child, 10);
      }
      if (s->child.stdoutFd >= 0) ::close(s->child.stdoutFd);
      if (s->child.stderrFd >= 0) ::close(s->child.stderrFd);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  struct Server {
    pmrtest::ChildProcess child;
    int port = 0;
  };

  static Server StartServer(const std::string& cert, int port) {
    Server s;
    s.child = pmrtest::Spawn({"/usr/bin/python3", PMR_SOURCE_DIR "/tests/update/update_server.py", www_,
                              dir_ + "/" + cert + ".pem", dir_ + "/" + cert + ".key", std::to_string(port)});
    std::string line = ReadLine(s.child.stdoutFd, 30);
    if (line.rfind("ready ", 0) == 0) s.port = std::atoi(line.c_str() + 6);
    return s;
  }

  void SetUp() override {
    ASSERT_GT(good_.port, 0);
    ASSERT_GT(expired_.port, 0);
    ASSERT_GT(wrongName_.port, 0);
    WriteText(appImage_, "the running version", 0755);
  }

  // Nothing staged anywhere, and the running AppImage untouched.
  void ExpectNothingStaged(const std::string& what) {
    EXPECT_EQ(Entries(tmp_), std::vector<std::string>()) << what;
    EXPECT_EQ(Entries(apps_), std::vector<std::string>{"Pellomar.AppImage"}) << what;
    EXPECT_TRUE(ReadFile(appImage_) == "the running version") << what;
  }

  static std::string Publish(const std::string& name, const std::string& text) {
    WriteText(www_ + "/m/" + name, text);
    return kWeb + "/m/" + name;
  }
  static std::string Signed(const std::string& version, const std::string& url, const std::string& sha,
                            const std::string& tier = "linux-free-appimage") {
    return pmrtest::SignedManifest(pmrtest::TestReleaseSigningKey(), tier, version, url, sha);
  }

  UpdateInstallation Inst(const std::string& type) {
    UpdateInstallation i;
    i.packageType = type;
    if (type == "appimage") i.appImage = appImage_;
    else i.resourceDir = res_;
    i.relaunch = [this](const std::string& exe) { relaunched_.push_back(exe); };
    return i;
  }
  UpdateManifestInfo Info(const std::string& url, const std::string& sha) {
    UpdateManifestInfo info;
    info.url = url;
    info.sha256 = sha;
    return info;
  }

  static std::string dir_, www_, tmp_, apps_, res_, appImage_, payload_;
  static Server good_, expired_, wrongName_;
  std::vector<std::string> relaunched_;
};

std::string UpdateNet::dir_, UpdateNet::www_, UpdateNet::tmp_, UpdateNet::apps_, UpdateNet::res_, UpdateNet::appImage_,
    UpdateNet::payload_;
UpdateNet::Server UpdateNet::good_, UpdateNet::expired_, UpdateNet::wrongName_;

TEST_F(UpdateNet, NewerSignedUpdateIsFoundDownloadedAndSwapped) {
  ASSERT_EQ(PackageType(), "appimage");
  ASSERT_EQ(ExpectedUpdateTier(), "linux-free-appimage");
  std::string sha = pmrtest::Sha256Hex(payload_);
  std::string manifest = Publish("good.json", Signed("1.1.0", kDl + "/slow/payload.bin", sha));
  UpdateCheckResult r = CheckForUpdate(manifest);
  ASSERT_EQ(r.available, 1);
  EXPECT_EQ(r.info.version, "1.1.0");
  EXPECT_EQ(r.currentVersion, "1.0.2");
  // A local manifest file works the same.
  WriteText(dir_ + "/local.json", ReadFile(www_ + "/m/good.json"));
  EXPECT_EQ(CheckForUpdate(dir_ + "/local.json").available, 1);

  std::vector<std::pair<int64_t, int64_t>> reports;
  UpdateProgressFn progress = [&](int64_t received, int64_t total) {
    reports.emplace_back(received, total);
    return true;
  };
  std::string staged;
  ASSERT_EQ(StageUpdate(Inst("appimage"), r.info, progress, staged), "");
  EXPECT_EQ(staged.rfind(apps_ + "/.Pellomar.AppImage.update-", 0), 0u) << staged;
  struct stat st;
  ASSERT_EQ(::stat(staged.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_GE(reports.size(), 3u);  // the slow route takes several reports
  EXPECT_EQ(reports.back(), std::make_pair(static_cast<int64_t>(payload_.size()), static_cast<int64_t>(payload_.size())));
  for (size_t i = 1; i < reports.size(); ++i) EXPECT_LE(reports[i - 1].first, reports[i].first);

  ASSERT_EQ(InstallStagedUpdate(Inst("appimage"), staged), "");
  EXPECT_TRUE(ReadFile(appImage_) == payload_);
  WriteText(appImage_, "the running version", 0755);
  EXPECT_EQ(relaunched_, std::vector<std::string>{appImage_});
  EXPECT_EQ(Entries(apps_), std::vector<std::string>{"Pellomar.AppImage"});

  // A package download lands in a private folder of the temporary directory,
  // beside the signed manifest the root helper judges again.
  ASSERT_EQ(StageUpdate(Inst("deb"), r.info, nullptr, staged), "");
  std::string file = staged.substr(0, staged.rfind('|'));
  std::string manifestFile = staged.substr(staged.rfind('|') + 1);
  EXPECT_EQ(manifestFile, std::filesystem::path(file).parent_path().string() + "/manifest.json");
  UpdateManifestInfo again;
  EXPECT_TRUE(LinuxEvaluateReleaseManifest(ReadFile(manifestFile), "linux-free-appimage", "1.0.2", again));
  EXPECT_EQ(again.sha256, sha);
  EXPECT_EQ(again.sig, r.info.sig);
  EXPECT_EQ(file.rfind(tmp_ + "/Pellomar-update-free-", 0), 0u) << staged;
  EXPECT_EQ(file.substr(file.size() - 11), "/update.deb");
  ASSERT_EQ(::stat(std::filesystem::path(file).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(ReadFile(file) == payload_);
  CleanupUpdateTempFilesIn(tmp_, appImage_);
  ExpectNothingStaged("after cleanup");
}

TEST_F(UpdateNet, ManifestAttacksFindNoUpdate) {
  std::string sha = pmrtest::Sha256Hex(payload_);
  std::string url = kDl + "/payload.bin";
  std::string good = Signed("1.1.0", url, sha);
  Publish("good.json", good);
  std::string big = good;
  big.insert(big.size() - 1, ",\"notes\":\"" + std::string(kMaxManifestBytes, 'n') + "\"");
  WriteText(dir_ + "/big.json", big);
  struct Case {
    const char* what;
    std::string source;
  } cases[] = {
      {"signed with another key",
       Publish("otherkey.json", pmrtest::SignedManifest(pmrtest::NewSigningKey(), "linux-free-appimage", "1.1.0", url, sha))},
      {"equal version (rollback)", Publish("equal.json", Signed("1.0.2", url, sha))},
      {"older version (rollback)", Publish("older.json", Signed("1.0.1", url, sha))},
      {"another channel", Publish("pro.json", Signed("1.1.0", url, sha, "linux-pro-appimage"))},
      {"another package kind", Publish("deb.json", Signed("1.1.0", url, sha, "linux-free-deb"))},
      {"link to another site", Publish("site.json", Signed("1.1.0", "https://elsewhere.example/p.bin", sha))},
      {"link with a port", Publish("port.json", Signed("1.1.0", kDl + ":443/p.bin", sha))},
      {"oversized manifest", Publish("big.json", big)},
      {"oversized manifest without a length", kWeb + "/nolength/m/big.json"},
      {"oversized local manifest", dir_ + "/big.json"},
      {"missing local manifest", dir_ + "/none.json"},
      {"endless local manifest", "/dev/zero"},
      {"folder as local manifest", dir_},
      {"redirect", kWeb + "/redirect/m/good.json"},
      {"plain http", "http://" + std::string(kProductWebHost) + "/m/good.json"},
      {"expired certificate", kWeb + ":" + std::to_string(expired_.port) + "/m/good.json"},
      {"certificate for another name", kWeb + ":" + std::to_string(wrongName_.port) + "/m/good.json"},
      {"not found", kWeb + "/m/none.json"},
      {"server error", kWeb + "/status/500"},
      {"truncated manifest", kWeb + "/short/m/good.json"},
  };
  for (const Case& c : cases) {
    UpdateCheckResult r = CheckForUpdate(c.source);
    EXPECT_EQ(r.available, 0) << c.what;
    EXPECT_EQ(r.info.version, "") << c.what;
    ExpectNothingStaged(c.what);
  }
  // The same manifest from the server with the good certificate is found.
  EXPECT_EQ(CheckForUpdate(kWeb + "/m/good.json").available, 1);
  // The good server answers on its own port too; only the certificate differs.
  EXPECT_EQ(CheckForUpdate(kWeb + ":443/m/good.json").available, 1);
}

TEST_F(UpdateNet, DownloadAttacksLeaveNothingStaged) {
  std::string sha = pmrtest::Sha256Hex(payload_);
  struct Case {
    const char* what;
    std::string url;
    std::string message;
  } cases[] = {
      {"other bytes (hash mismatch)", kDl + "/other.bin", kMismatch},
      {"truncated download", kDl + "/short/payload.bin", kIncomplete},
      {"oversized download", kDl + "/huge", kIncomplete},
      {"redirect to another host", kDl + "/redirect/payload.bin", kIncomplete},
      {"not found", kDl + "/none.bin", kIncomplete},
      {"expired certificate", kDl + ":" + std::to_string(expired_.port) + "/payload.bin", kIncomplete},
      {"certificate for another name", kDl + ":" + std::to_string(wrongName_.port) + "/payload.bin", kIncomplete},
      {"plain http", "http://" + std::string(kProductDownloadHost) + "/payload.bin",
       "Update failed: the download link was not valid."},
  };
  for (const std::string type : {"appimage", "deb", "rpm"}) {
    for (const Case& c : cases) {
      std::string staged = "x";
      EXPECT_EQ(StageUpdate(Inst(type), Info(c.url, sha), nullptr, staged), c.message) << type << ": " << c.what;
      EXPECT_EQ(staged, "");
      ExpectNothingStaged(type + ": " + c.what);
    }
  }
  // A body larger than the limit with no announced length stops at the limit.
  std::string body = "untouched";
  EXPECT_FALSE(HttpsGet(kDl + "/nolength/payload.bin", 1000, nullptr, nullptr, body));
  EXPECT_EQ(body, "untouched");
  EXPECT_TRUE(HttpsGet(kDl + "/nolength/payload.bin", static_cast<int64_t>(payload_.size()), nullptr, nullptr, body));
  EXPECT_TRUE(body == payload_);

  // A transfer stopped by its progress callback (shutdown) leaves nothing either.
  int calls = 0;
  UpdateProgressFn stopAtSecond = [&](int64_t, int64_t) { return ++calls < 2; };
  std::string staged;
  EXPECT_EQ(StageUpdate(Inst("appimage"), Info(kDl + "/slow/payload.bin", sha), stopAtSecond, staged), kIncomplete);
  ExpectNothingStaged("stopped by progress");
  EXPECT_TRUE(relaunched_.empty());
}

TEST_F(UpdateNet, ReadOnlyAppImageFolder) {
  // This test runs in its own mount namespace: the folder can be made read-only.
  ASSERT_EQ(pmrtest::Run({"mount", "--bind", apps_, apps_}), 0);
  ASSERT_EQ(pmrtest::Run({"mount", "-o", "remount,ro,bind", apps_}), 0);
  std::string staged;
  std::string message =
      StageUpdate(Inst("appimage"), Info(kDl + "/payload.bin", pmrtest::Sha256Hex(payload_)), nullptr, staged);
  pmrtest::Run({"umount", apps_});
  EXPECT_EQ(message, "Update failed: Pellomar can't replace its own file in " + apps_ +
                         ". Download the new version from " + kProductWebHost + " instead.");
  ExpectNothingStaged("read-only folder");
}

TEST_F(UpdateNet, StalledServerEndsTheCheckWithinItsLimit) {
  auto start = std::chrono::steady_clock::now();
  UpdateCheckResult r = CheckForUpdate(kWeb + "/stall");
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.available, 0);
  // The transfer gives up after 10 s without data, well inside the 40 s limit.
  EXPECT_LT(seconds, 40.0);
}

}  // namespace
