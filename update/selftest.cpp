// The update self-test: runs the manifest rules, the signature check, the host
// list and the release key against a vectors file and reports PASS/FAIL.
#include <fstream>

#include "platform/os_update.h"
#include "update/selftest.h"
#include "update/update_core.h"

namespace {

void Report(std::string& report, bool pass, const std::string& label) {
  report += (pass ? "PASS " : "FAIL ") + label + "\n";
}

}  // namespace

bool SelfTestUpdate(const std::string& vectorsPath, std::string& report) {
  report.clear();
  std::ifstream in(vectorsPath, std::ios::binary);
  if (!in) {
    report = "FAIL could not open vectors file: " + vectorsPath + "\n";
    return false;
  }
  bool allPass = true;
  auto check = [&](bool pass, const std::string& label) {
    Report(report, pass, label);
    if (!pass) allPass = false;
  };

  LinuxPublicKey testKey;
  int cases = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::string kind = UpdateCore::ExtractJsonStringField(line, "line");
    if (kind == "key") {
      std::string blob = LinuxHexDecode(UpdateCore::ExtractJsonStringField(line, "hex"));
      testKey.reset();
      if (!blob.empty())
        testKey = LinuxP256KeyFromBlob(reinterpret_cast<const unsigned char*>(blob.data()), blob.size());
      check(testKey != nullptr, "test key loads as a valid P-256 public key");
    } else if (kind == "case") {
      if (!testKey) {
        check(false, "case before a valid key line - skipped");
        continue;
      }
      ++cases;
      auto field = [&line](const char* key) { return UpdateCore::ExtractJsonStringField(line, key); };
      std::string manifest = "{\"tier\":\"" + field("tier") + "\",\"version\":\"" + field("version") +
                             "\",\"url\":\"" + field("url") + "\",\"sha256\":\"" + field("sha256") +
                             "\",\"sig\":\"" + field("sig") + "\"}";
      LinuxPublicKey key = testKey;
      UpdateManifestInfo info;
      bool accepted = UpdateCore::EvaluateManifest(
          [key](const std::string& text, const std::string& sig) { return LinuxVerifyP256(key, text, sig); },
          manifest, field("expectedTier"), field("ownVersion"), info);
      bool expect = UpdateCore::ExtractJsonBoolField(line, "expect", false);
      std::string name = field("name");
      check(accepted == expect, name.empty() ? "case " + std::to_string(cases) : name);
    }
  }
  testKey.reset();

  const std::string web = kProductWebHost, api = kProductApiHost, dl = kProductDownloadHost;
  struct HostCheck {
    std::string url;
    bool allowed;
    std::string label;
  };
  const HostCheck hosts[] = {
      {"https://" + web + "/download/Pellomar-Pro.AppImage", true, "host: " + web + " allowed"},
      {"https://" + api + "/download/pro", true, "host: " + api + " allowed"},
      {"https://" + dl + "/update/x.AppImage", true, "host: " + dl + " allowed"},
      {"https://" + web + ".example.net/x.deb", false, "host: look-alike subdomain rejected"},
      {"https://" + web + "@example.net/x.deb", false, "host: userinfo trick rejected"},
      {"https://" + web + ":8443/x.deb", false, "host: explicit port rejected"},
      {"https://downloads.example.org/Pellomar-Pro.AppImage", false, "host: other site rejected"},
      {"http://" + web + "/x.deb", false, "host: plain http rejected"},
      {"https://" + std::string(kProductTesterHost) + "/update/x.AppImage", false,
       "host: tester site rejected (Pro/Free build)"},
  };
  for (const HostCheck& h : hosts) check(UpdateCore::IsAllowedInstallerHost(h.url) == h.allowed, h.label);

  check(LinuxReleaseKeysAllLoad(), "release key loads");
  if (cases == 0) check(false, "no cases found in vectors file");
  return allPass && cases > 0;
}
