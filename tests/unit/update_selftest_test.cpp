// The update self-test: vectors files made with a key of the test's own, the
// report lines in order, the result, and the program's command-line mode.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/read_file.h"
#include "tests/support/process.h"
#include "tests/support/update_signing.h"
#include "update/selftest.h"
#include "update/update_core.h"

namespace {

struct VectorCase {
  std::string name;
  bool expect;
  std::string tier, version, url, own, expectedTier;
};

class SelfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pmrtest::MakeTempDir("selftest");
    key_ = pmrtest::NewSigningKey();
    keyLine_ = "{\"line\":\"key\",\"hex\":\"" + pmrtest::Hex(pmrtest::PublicBlob(key_)) + "\"}";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string CaseLine(const VectorCase& c, bool flip = false) {
    std::string sha(64, '5');
    std::string sig = pmrtest::SignHex(key_, UpdateCore::BuildManifestPayload(c.tier, c.version, sha, c.url));
    std::string line = "{\"line\":\"case\"";
    if (!c.name.empty()) line += ",\"name\":\"" + c.name + "\"";
    return line + ",\"expect\":" + ((c.expect != flip) ? "true" : "false") + ",\"tier\":\"" + c.tier +
           "\",\"version\":\"" + c.version + "\",\"url\":\"" + c.url + "\",\"sha256\":\"" + sha + "\",\"sig\":\"" +
           sig + "\",\"ownVersion\":\"" + c.own + "\",\"expectedTier\":\"" + c.expectedTier + "\"}";
  }
  std::string Write(const std::vector<std::string>& lines) {
    std::string path = dir_ + "/vectors" + std::to_string(++files_) + ".jsonl";
    std::ofstream out(path, std::ios::binary);
    for (const std::string& l : lines) out << l << "\n";
    return path;
  }
  static std::vector<std::string> Lines(const std::string& report) {
    std::vector<std::string> out;
    std::istringstream in(report);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  std::vector<VectorCase> Cases() {
    std::string dl = "https://" + std::string(kProductDownloadHost) + "/update/p.AppImage";
    return {
        {"newer signed update", true, "linux-free-appimage", "1.1.0", dl, "1.0.2", "linux-free-appimage"},
        {"same version", false, "linux-free-appimage", "1.0.2", dl, "1.0.2", "linux-free-appimage"},
        {"pro manifest in free build", false, "linux-pro-deb", "2.0.0", dl, "1.0.2", "linux-free-deb"},
        {"", false, "linux-free-deb", "2.0.0", "https://" + std::string(kProductTesterHost) + "/p.deb", "1.0.2",
         "linux-free-deb"},
    };
  }

  std::string dir_;
  int files_ = 0;
  pmrtest::SigningKey key_;
  std::string keyLine_;
};

const std::vector<std::string>& HostLabels() {
  static const std::vector<std::string> labels = {
      "host: " + std::string(kProductWebHost) + " allowed",
      "host: " + std::string(kProductApiHost) + " allowed",
      "host: " + std::string(kProductDownloadHost) + " allowed",
      "host: look-alike subdomain rejected",
      "host: userinfo trick rejected",
      "host: explicit port rejected",
      "host: other site rejected",
      "host: plain http rejected",
      "host: tester site rejected (Pro/Free build)",
  };
  return labels;
}

TEST_F(SelfTest, PassesAndEveryFlippedCaseFails) {
  std::vector<std::string> good = {keyLine_, "", "{\"line\":\"comment\",\"text\":\"ignored\"}"};
  std::vector<std::string> flipped = {keyLine_};
  for (const VectorCase& c : Cases()) {
    good.push_back(CaseLine(c));
    flipped.push_back(CaseLine(c, true));
  }
  std::string report;
  ASSERT_TRUE(SelfTestUpdate(Write(good), report)) << report;
  std::vector<std::string> expected = {"PASS test key loads as a valid P-256 public key",
                                       "PASS newer signed update", "PASS same version",
                                       "PASS pro manifest in free build", "PASS case 4"};
  for (const std::string& h : HostLabels()) expected.push_back("PASS " + h);
  expected.push_back("PASS release key loads");
  EXPECT_EQ(Lines(report), expected);

  ASSERT_FALSE(SelfTestUpdate(Write(flipped), report));
  std::vector<std::string> lines = Lines(report);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 1; i <= 4; ++i) EXPECT_EQ(lines[i], "FAIL" + expected[i].substr(4));
  EXPECT_EQ(lines[0], expected[0]);
}

TEST_F(SelfTest, KeyLinesAndCaseCounting) {
  std::vector<VectorCase> cases = Cases();
  std::string report;

  // Only a key line: hosts and release key, then no cases.
  EXPECT_FALSE(SelfTestUpdate(Write({keyLine_}), report));
  std::vector<std::string> lines = Lines(report);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[10], "PASS release key loads");
  EXPECT_EQ(lines[11], "FAIL no cases found in vectors file");

  // A case before the key is skipped and not counted; the later ones pass but
  // the result stays false.
  EXPECT_FALSE(SelfTestUpdate(Write({CaseLine(cases[0]), keyLine_, CaseLine(cases[1])}), report));
  lines = Lines(report);
  EXPECT_EQ(lines[0], "FAIL case before a valid key line - skipped");
  EXPECT_EQ(lines[1], "PASS test key loads as a valid P-256 public key");
  EXPECT_EQ(lines[2], "PASS same version");

  // A key with odd length or a non-hex digit loads nothing; its cases are skipped.
  std::string hex = pmrtest::Hex(pmrtest::PublicBlob(key_));
  for (const std::string& bad : {hex.substr(1), hex.substr(0, 143) + "g", std::string()}) {
    EXPECT_FALSE(SelfTestUpdate(
        Write({keyLine_, "{\"line\":\"key\",\"hex\":\"" + bad + "\"}", CaseLine(cases[0]), CaseLine(cases[1])}),
        report));
    lines = Lines(report);
    EXPECT_EQ(lines[1], "FAIL test key loads as a valid P-256 public key");
    EXPECT_EQ(lines[2], "FAIL case before a valid key line - skipped");
    EXPECT_EQ(lines[3], "FAIL case before a valid key line - skipped");
    EXPECT_EQ(lines.back(), "FAIL no cases found in vectors file");
  }

  // A malformed case reads its missing fields as empty and "expect" as false.
  EXPECT_TRUE(SelfTestUpdate(Write({keyLine_, "{\"line\":\"case\",\"name\":\"garbage\"}"}), report)) << report;
  EXPECT_TRUE(SelfTestUpdate(Write({keyLine_, "{\"line\":\"case\"}", "{\"line\":\"case\"}", "{\"line\":\"case\"}"}),
                             report));
  EXPECT_EQ(Lines(report)[3], "PASS case 3");
}

TEST_F(SelfTest, ProgramModeExitStatusAndMissingFile) {
  std::vector<std::string> good = {keyLine_};
  for (const VectorCase& c : Cases()) good.push_back(CaseLine(c));
  std::string path = Write(good);
  std::string out;
  // The installed program carries the release key, which loads too; the mode
  // needs no display, lock or data directory.
  std::vector<std::string> env = {"DISPLAY=", "WAYLAND_DISPLAY=", "XDG_DATA_HOME=" + dir_ + "/nodata"};
  EXPECT_EQ(pmrtest::Run({pmrtest::ProgramPath(), "x.pmrmacro", "--selftest-update=" + path}, &out, env), 0) << out;
  std::vector<std::string> lines = Lines(out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "SELFTEST-UPDATE: ALL PASS");
  EXPECT_EQ(lines[lines.size() - 2], "PASS release key loads");

  EXPECT_EQ(pmrtest::Run({pmrtest::ProgramPath(), "--selftest-update=" + dir_ + "/none"}, &out, env), 1);
  EXPECT_EQ(out, "FAIL could not open vectors file: " + dir_ + "/none\nSELFTEST-UPDATE: FAILURES ABOVE\n");
  EXPECT_EQ(access((dir_ + "/nodata").c_str(), F_OK), -1);
}

// The committed vectors file (made with the TEST-ONLY key) passes in the
// program as shipped, and every case fails once its expectation is flipped.
TEST_F(SelfTest, CommittedVectorsPassAndFailFlipped) {
  std::string fixture = std::string(PMR_FIXTURES_DIR) + "/update/selftest-vectors.jsonl";
  std::string text = ReadFile(fixture);
  ASSERT_FALSE(text.empty());
  std::string out;
  std::vector<std::string> env = {"DISPLAY=", "WAYLAND_DISPLAY="};
  ASSERT_EQ(pmrtest::Run({pmrtest::ProgramPath(), "--selftest-update=" + fixture}, &out, env), 0) << out;
  std::vector<std::string> lines = Lines(out);
  size_t cases = 0;
  for (const std::string& l : Lines(text)) cases += l.find("\"line\":\"case\"") != std::string::npos;
  ASSERT_GE(cases, 10u);
  ASSERT_EQ(lines.size(), 1 + cases + 9 + 1 + 1);
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("PASS ", 0), 0u) << lines[i];

  std::string flipped;
  for (const std::string& l : Lines(text)) {
    std::string f = l;
    size_t t = f.find("\"expect\":true"), fa = f.find("\"expect\":false");
    if (t != std::string::npos)
      f.replace(t, 13, "\"expect\":false");
    else if (fa != std::string::npos)
      f.replace(fa, 14, "\"expect\":true");
    flipped += f + "\n";
  }
  std::string path = dir_ + "/flipped.jsonl";
  std::ofstream(path, std::ios::binary) << flipped;
  ASSERT_EQ(pmrtest::Run({pmrtest::ProgramPath(), "--selftest-update=" + path}, &out, env), 1) << out;
  std::vector<std::string> flippedLines = Lines(out);
  ASSERT_EQ(flippedLines.size(), lines.size());
  EXPECT_EQ(flippedLines[0], lines[0]);  // the key line
  for (size_t i = 1; i <= cases; ++i) EXPECT_EQ(flippedLines[i], "FAIL" + lines[i].substr(4));
  for (size_t i = cases + 1; i + 1 < lines.size(); ++i) EXPECT_EQ(flippedLines[i], lines[i]);
  EXPECT_EQ(flippedLines.back(), "SELFTEST-UPDATE: FAILURES ABOVE");
}

}  // namespace
