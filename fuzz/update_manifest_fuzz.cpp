// Fuzz target for the update manifest rules: the field scanners, the version
// and tier shapes, the host list and the whole judgement, with a verifier that
// accepts every signature so the checks after it are reached too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/os_update.h"
#include "update/update_core.h"

namespace {

bool IsLowerHex64(const std::string& s) {
  if (s.size() != 64) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"tier", "version", "url", "sha256", "sig", "line", "expect"}) {
    UpdateCore::ExtractJsonStringField(text, key);
    UpdateCore::ExtractJsonBoolField(text, key, true);
  }
  UpdateCore::ParseVersionWithTag(text);
  UpdateCore::IsValidTierShape(text);
  UpdateCore::IsAllowedInstallerHost(text);
  LinuxHexDecode(text);

  for (const char* tier : {"linux-free-appimage", "linux-free-deb"}) {
    UpdateManifestInfo info;
    std::string signedText;
    bool accepted = UpdateCore::EvaluateManifest(
        [&signedText](const std::string& t, const std::string&) {
          signedText = t;
          return true;
        },
        text, tier, kCurrentVersion, info);
    if (!accepted) continue;
    FUZZ_CHECK(info.tier == tier);
    FUZZ_CHECK(UpdateCore::IsVersionGreater(info.version, kCurrentVersion));
    FUZZ_CHECK(IsLowerHex64(info.sha256));
    FUZZ_CHECK(UpdateCore::IsAllowedInstallerHost(info.url));
    FUZZ_CHECK(info.url.find('|') == std::string::npos);
    FUZZ_CHECK(signedText == UpdateCore::BuildManifestPayload(info.tier, info.version, info.sha256, info.url));
  }
  return 0;
}
