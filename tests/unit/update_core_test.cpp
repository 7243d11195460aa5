// Update rules: versions, tiers, hosts, field scanners, manifest judgement,
// key loading, signature and hash checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/read_file.h"
#include "platform/os_update.h"
#include "tests/support/process.h"
#include "tests/support/update_signing.h"
#include "update/update_core.h"

namespace {

using namespace UpdateCore;

TEST(UpdateVersions, OrderAndShapes) {
  struct Case {
    const char* a;
    const char* b;
    bool greater;
  } cases[] = {
      {"1.0.10", "1.0.9", true},        {"1.0.9", "1.0.10", false},
      {"1.0.3", "1.0.3-beta.7", true},  {"1.0.3-beta.7", "1.0.3", false},
      {"1.0.3-beta.2", "1.0.3-beta.1", true}, {"1.0.3-beta.1", "1.0.3-beta.2", false},
      {"1.0.3", "1.0.3", false},        {"2.0.0", "1.99999.99999", true},
      {"01.002.00003", "1.2.2", true},  {"1.1.0-beta.1", "1.0.99", true},
      {"99999.0.0", "99998.99999.99999", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsVersionGreater(c.a, c.b), c.greater) << c.a << " > " << c.b;

  const char* notVersions[] = {"1.0", "1.0.0.1", "1.0.0-rc.1", "1.0.0-beta", "1.0.0-beta.x", "123456.0.0",
                               "", "1..0", "-1.0.0", "+1.0.0", "1.0.0-beta.", "1.0.0-beta.123456", " 1.0.0",
                               "1.0.0 ", "1.0.0-BETA.1", "1.0.0-beta.1.2"};
  for (const char* v : notVersions) {
    EXPECT_FALSE(ParseVersionWithTag(v).valid) << v;
    EXPECT_FALSE(IsVersionGreater(v, "0.0.1")) << v;
    EXPECT_FALSE(IsVersionGreater("9.9.9", v)) << v;
  }
  Version v = ParseVersionWithTag("3.04.5-beta.00012");
  EXPECT_TRUE(v.valid);
  EXPECT_EQ(v.major, 3);
  EXPECT_EQ(v.minor, 4);
  EXPECT_EQ(v.patch, 5);
  EXPECT_TRUE(v.hasBeta);
  EXPECT_EQ(v.beta, 12);
}

TEST(UpdateTiers, ExactShapes) {
  for (const char* t : {"free", "pro", "beta", "mac-free", "mac-pro", "mac-beta", "linux-free-deb",
                        "linux-pro-rpm", "linux-beta-appimage", "linux-free-appimage"})
    EXPECT_TRUE(IsValidTierShape(t)) << t;
  for (const char* t : {"", "Free", "linux-free", "linux-free-", "linux-free-snap", "linux-gold-deb",
                        "linux-free-deb ", "linux-free-deb-x", "mac-free-deb", "win-free", "linux--deb"})
    EXPECT_FALSE(IsValidTierShape(t)) << t;
}

TEST(UpdateHosts, WholeHostComparedLowerCased) {
  const std::string web = kProductWebHost;
  struct Case {
    std::string url;
    bool allowed;
  } cases[] = {
      {"https://" + web + "/x.deb", true},
      {"https://" + std::string(kProductApiHost) + "/download/pro", true},
      {"https://" + std::string(kProductDownloadHost) + "/u/x.AppImage", true},
      {"https://" + std::string(kProductDownloadHost), true},
      {"https://" + web + "?q=1", true},
      {"https://" + web + "#frag", true},
      {"https://PELLOMAR.App/x.deb", true},
      {"HTTPS://" + web + "/x.deb", false},
      {"http://" + web + "/x.deb", false},
      {"https://" + web + ".example.net/x.deb", false},
      {"https://evil." + web + "/x.deb", false},
      {"https://" + web + "@example.net/x.deb", false},
      {"https://" + web + ":443/x.deb", false},
      {"https://" + std::string(kProductTesterHost) + "/x.deb", false},
      {"https:///x.deb", false},
      {"ftp://" + web + "/x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAllowedInstallerHost(c.url), c.allowed) << c.url;
}

TEST(UpdateFields, ScannerRules) {
  EXPECT_EQ(ExtractJsonStringField(R"({"a":"x\"y\\z\/w\n\r\t\q"})", "a"), "x\"y\\z/w\n\r\tq");
  EXPECT_EQ(ExtractJsonStringField(R"({"a" :  "v"})", "a"), "v");
  EXPECT_EQ(ExtractJsonStringField(R"({"a":"unterminated)", "a"), "unterminated");
  EXPECT_EQ(ExtractJsonStringField(R"({"b":"v"})", "a"), "");
  EXPECT_EQ(ExtractJsonStringField(R"({"a" 1})", "a"), "");
  EXPECT_EQ(ExtractJsonStringField(R"({"a":1})", "a"), "");
  // The first occurrence of the quoted key wins, even as another member's value.
  EXPECT_EQ(ExtractJsonStringField(R"({"note":"url","tier":"a","url":"x"})", "url"), "a");
  EXPECT_EQ(ExtractJsonStringField(R"({"note":"the \"url\" moved","url":"second"})", "url"), "second");

  EXPECT_TRUE(ExtractJsonBoolField(R"({"e": true})", "e", false));
  EXPECT_FALSE(ExtractJsonBoolField(R"({"e":false})", "e", true));
  EXPECT_TRUE(ExtractJsonBoolField(R"({"e":"false"})", "e", true));
  EXPECT_FALSE(ExtractJsonBoolField(R"({"x":true})", "e", false));
  EXPECT_FALSE(ExtractJsonBoolField(R"({"e":	true})", "e", false));  // only spaces are skipped: default
}

// Manifests signed with a key made for this test.
class ManifestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = pmrtest::NewSigningKey();
    std::string blob = pmrtest::PublicBlob(key_);
    pub_ = LinuxP256KeyFromBlob(reinterpret_cast<const unsigned char*>(blob.data()), blob.size());
    ASSERT_TRUE(pub_);
  }
  bool Evaluate(const std::string& manifest, const std::string& tier, const std::string& own,
                UpdateManifestInfo& info, int* verifyCalls = nullptr) {
    LinuxPublicKey pub = pub_;
    return EvaluateManifest(
        [pub, verifyCalls](const std::string& text, const std::string& sig) {
          if (verifyCalls) ++*verifyCalls;
          return LinuxVerifyP256(pub, text, sig);
        },
        manifest, tier, own, info);
  }
  std::string Manifest(const std::string& tier, const std::string& version, const std::string& url,
                       const std::string& sha) {
    return pmrtest::SignedManifest(key_, tier, version, url, sha);
  }

  pmrtest::SigningKey key_;
  LinuxPublicKey pub_;
  const std::string sha_ = std::string(64, 'a');
  const std::string url_ = "https://" + std::string(kProductDownloadHost) + "/update/p.deb";
};

TEST_F(ManifestTest, AcceptsANewerSignedUpdateForItsTier) {
  UpdateManifestInfo info;
  std::string m = Manifest("linux-free-deb", "1.2.0", url_, sha_);
  ASSERT_TRUE(Evaluate(m, "linux-free-deb", "1.0.2", info));
  EXPECT_EQ(info.tier, "linux-free-deb");
  EXPECT_EQ(info.version, "1.2.0");
  EXPECT_EQ(info.url, url_);
  EXPECT_EQ(info.sha256, sha_);
  EXPECT_EQ(info.sig.size(), 128u);
}

TEST_F(ManifestTest, RefusalsLeaveInfoUntouched) {
  pmrtest::SigningKey other = pmrtest::NewSigningKey();
  std::string good = Manifest("linux-free-deb", "1.2.0", url_, sha_);
  std::string sig = ExtractJsonStringField(good, "sig");
  auto withSig = [&](const std::string& s) {
    return "{\"tier\":\"linux-free-deb\",\"version\":\"1.2.0\",\"url\":\"" + url_ + "\",\"sha256\":\"" + sha_ +
           "\",\"sig\":\"" + s + "\"}";
  };
  struct Case {
    const char* what;
    std::string manifest;
    std::string expectedTier;
    std::string own;
  } cases[] = {
      {"another key", pmrtest::SignedManifest(other, "linux-free-deb", "1.2.0", url_, sha_), "linux-free-deb", "1.0.2"},
      {"another channel", Manifest("linux-pro-deb", "1.2.0", url_, sha_), "linux-free-deb", "1.0.2"},
      {"equal version", Manifest("linux-free-deb", "1.0.2", url_, sha_), "linux-free-deb", "1.0.2"},
      {"older version", Manifest("linux-free-deb", "1.0.1", url_, sha_), "linux-free-deb", "1.0.2"},
      {"beta of own version", Manifest("linux-free-deb", "1.0.2-beta.9", url_, sha_), "linux-free-deb", "1.0.2"},
      {"upper-case sha", Manifest("linux-free-deb", "1.2.0", url_, std::string(64, 'A')), "linux-free-deb", "1.0.2"},
      {"short sha", Manifest("linux-free-deb", "1.2.0", url_, std::string(63, 'a')), "linux-free-deb", "1.0.2"},
      {"plain http", Manifest("linux-free-deb", "1.2.0", "http://" + std::string(kProductWebHost) + "/p", sha_),
       "linux-free-deb", "1.0.2"},
      {"other host", Manifest("linux-free-deb", "1.2.0", "https://example.org/p.deb", sha_), "linux-free-deb",
       "1.0.2"},
      {"bad tier shape", Manifest("linux-free-snap", "1.2.0", url_, sha_), "linux-free-snap", "1.0.2"},
      {"bad version shape", Manifest("linux-free-deb", "1.2", url_, sha_), "linux-free-deb", "1.0.2"},
      {"sig 126 digits", withSig(sig.substr(0, 126)), "linux-free-deb", "1.0.2"},
      {"sig 130 digits", withSig(sig + "00"), "linux-free-deb", "1.0.2"},
      {"sig non-hex", withSig(sig.substr(0, 127) + "g"), "linux-free-deb", "1.0.2"},
      {"tampered version", [&] {
         std::string m = good;
         m.replace(m.find("1.2.0"), 5, "1.3.0");
         return m;
       }(), "linux-free-deb", "1.0.2"},
      {"missing sig", "{\"tier\":\"linux-free-deb\",\"version\":\"1.2.0\",\"url\":\"" + url_ + "\",\"sha256\":\"" + sha_ + "\"}",
       "linux-free-deb", "1.0.2"},
      {"empty", "", "linux-free-deb", "1.0.2"},
  };
  for (const Case& c : cases) {
    UpdateManifestInfo info;
    info.version = "untouched";
    EXPECT_FALSE(Evaluate(c.manifest, c.expectedTier, c.own, info)) << c.what;
    EXPECT_EQ(info.version, "untouched") << c.what;
  }
  // The same signature with upper-case hex digits still verifies.
  UpdateManifestInfo info;
  std::string upper = sig;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_TRUE(Evaluate(withSig(upper), "linux-free-deb", "1.0.2", info));
}

TEST_F(ManifestTest, UrlShapeIsCheckedBeforeTheSignature) {
  for (std::string url : {url_ + " x", url_ + "|x", url_ + "\x7f", url_ + "\xc3\xa9"}) {
    int calls = 0;
    UpdateManifestInfo info;
    EXPECT_FALSE(Evaluate(Manifest("linux-free-deb", "1.2.0", url, sha_), "linux-free-deb", "1.0.2", info, &calls));
    EXPECT_EQ(calls, 0) << url;
  }
}

TEST_F(ManifestTest, MemberOrderAndExtraMembersDoNotMatter) {
  std::string m = Manifest("linux-free-deb", "1.2.0", url_, sha_);
  std::string sig = ExtractJsonStringField(m, "sig");
  std::string shuffled = "{\"notes\":\"fixes\",\"sig\":\"" + sig + "\",\"sha256\":\"" + sha_ + "\",\"size\":12,\"url\":\"" +
                         url_ + "\",\"version\":\"1.2.0\",\"tier\":\"linux-free-deb\"}";
  UpdateManifestInfo info;
  EXPECT_TRUE(Evaluate(shuffled, "linux-free-deb", "1.0.2", info));
  // An upper-case host is allowed; the scheme is not.
  UpdateManifestInfo info2;
  std::string upperHost = "https://DL.Pellomar.APP/update/p.deb";
  EXPECT_TRUE(Evaluate(Manifest("linux-free-deb", "1.2.0", upperHost, sha_), "linux-free-deb", "1.0.2", info2));
  EXPECT_FALSE(Evaluate(Manifest("linux-free-deb", "1.2.0", "HTTPS://dl.pellomar.app/p.deb", sha_), "linux-free-deb",
                        "1.0.2", info2));
}

TEST(UpdateCrypto, KeyBlobsAndSignatures) {
  pmrtest::SigningKey key = pmrtest::NewSigningKey();
  std::string blob = pmrtest::PublicBlob(key);
  auto load = [](const std::string& b) {
    return LinuxP256KeyFromBlob(reinterpret_cast<const unsigned char*>(b.data()), b.size());
  };
  ASSERT_TRUE(load(blob));
  std::string otherLength = blob;
  otherLength[4] = 0x40;  // the length field is not read
  EXPECT_TRUE(load(otherLength));
  EXPECT_FALSE(load(blob.substr(0, 71)));
  EXPECT_FALSE(load(blob + "x"));
  EXPECT_FALSE(load("ECS2" + blob.substr(4)));
  std::string offCurve = blob;
  offCurve[71] = static_cast<char>(offCurve[71] ^ 1);
  EXPECT_FALSE(load(offCurve));
  EXPECT_FALSE(LinuxP256KeyFromBlob(nullptr, 72));

  LinuxPublicKey pub = load(blob);
  std::string sig = pmrtest::SignHex(key, "message");
  EXPECT_TRUE(LinuxVerifyP256(pub, "message", sig));
  EXPECT_FALSE(LinuxVerifyP256(pub, "messagE", sig));
  EXPECT_FALSE(LinuxVerifyP256(nullptr, "message", sig));
  EXPECT_FALSE(LinuxVerifyP256(pub, "message", std::string(128, '0')));
  EXPECT_FALSE(LinuxVerifyP256(pub, "message", std::string(128, 'f')));
  EXPECT_FALSE(LinuxVerifyP256(pub, "message", ""));

  EXPECT_EQ(LinuxHexDecode("00fFa1"), std::string("\x00\xff\xa1", 3));
  EXPECT_EQ(LinuxHexDecode("abc"), "");
  EXPECT_EQ(LinuxHexDecode("zz"), "");

  // Test builds embed the TEST-ONLY key (tests/fixtures/update/test-keys) as
  // their only release key.
  ASSERT_EQ(kReleaseKeyCount, 1u);
  EXPECT_TRUE(LinuxReleaseKeysAllLoad());
  ASSERT_EQ(LinuxReleaseKeys().size(), 1u);
  EXPECT_EQ(pmrtest::PublicBlob(pmrtest::TestReleaseSigningKey()), pmrtest::PublicBlob(LinuxReleaseKeys()[0]));
  std::string payload = UpdateCore::BuildManifestPayload("linux-free-deb", "1.2.0", std::string(64, 'a'), "https://x");
  EXPECT_TRUE(LinuxVerifyRelease(payload, pmrtest::SignHex(pmrtest::TestReleaseSigningKey(), payload)));
  EXPECT_FALSE(LinuxVerifyRelease(payload, pmrtest::SignHex(pmrtest::NewSigningKey(), payload)));
}

// Keys are embedded as PEM public keys: only P-256 public keys load.
TEST(UpdateCrypto, PemKeysOnlyP256Public) {
  std::string dir = pmrtest::MakeTempDir("pem");
  std::string base = PMR_SOURCE_DIR;
  struct Case {
    std::string command;  // makes dir/k.pem
    bool loads;
  } cases[] = {
      {"cp " + base + "/tests/fixtures/update/test-keys/TEST-ONLY-public.pem k.pem", true},
      {"cp " + base + "/data/release-keys/release-2025.pem k.pem", true},
      {"openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 2>/dev/null | openssl pkey -pubout -out k.pem", false},
      {"openssl genpkey -algorithm ED25519 2>/dev/null | openssl pkey -pubout -out k.pem", false},
      {"cp " + base + "/tests/fixtures/update/TEST-ONLY-signing-key.pem k.pem", false},  // a private key
      {"printf 'not a key' > k.pem", false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(std::system(("cd '" + dir + "' && rm -f k.pem && " + c.command).c_str()), 0) << c.command;
    EXPECT_EQ(LinuxP256KeyFromPem(ReadFile(dir + "/k.pem")) != nullptr, c.loads) << c.command;
  }
  EXPECT_FALSE(LinuxP256KeyFromPem(""));
  std::filesystem::remove_all(dir);
}

TEST(UpdateCrypto, Sha256OfFiles) {
  std::string dir = pmrtest::MakeTempDir("sha");
  struct Case {
    std::string content;
    std::string hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(200000, 'x'), pmrtest::Sha256Hex(std::string(200000, 'x'))},  // several 64 KiB blocks
  };
  for (const Case& c : cases) {
    std::string path = dir + "/f";
    std::ofstream(path, std::ios::binary) << c.content;
    EXPECT_EQ(LinuxSha256File(path), c.hex);
  }
  EXPECT_EQ(LinuxSha256File(dir + "/missing"), "");
  EXPECT_EQ(LinuxSha256File(dir), "");  // a folder reads with an error
  std::filesystem::remove_all(dir);
}

}  // namespace
