#pragma once
// Platform operations of the self-update: key loading, signature and hash
// checks (OpenSSL), HTTPS transfers (libcurl), staging, installation and the
// relaunch.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// An accepted update, as the manifest offered it (the rules that
// judge a manifest are update/update_core.h's).
struct UpdateManifestInfo {
  std::string tier;
  std::string version;
  std::string url;
  std::string sha256;
  std::string sig;
};

struct evp_pkey_st;
// An EC public key; empty when none could be loaded.
using LinuxPublicKey = std::shared_ptr<evp_pkey_st>;

// Hex text to bytes: even length, digits 0-9 a-f A-F; anything else gives "".
std::string LinuxHexDecode(const std::string& hex);
// A 72-byte "ECS1" blob (magic, length, X, Y big-endian) as a P-256 key.
LinuxPublicKey LinuxP256KeyFromBlob(const unsigned char* bytes, size_t length);
// ECDSA-SHA256 over `message`; the signature is r||s as 128 hex digits.
bool LinuxVerifyP256(const LinuxPublicKey& key, const std::string& message, const std::string& sigHex);
// 64 lower-case hex digits, or "" when the file cannot be read.
std::string LinuxSha256File(const std::string& path);

// A PEM public key ("BEGIN PUBLIC KEY") when it is a P-256 key.
LinuxPublicKey LinuxP256KeyFromPem(const std::string& pem);

// The keys whose signatures this build accepts, as PEM texts: generated at
// build time from a key directory (update/release_keys.cmake), the release
// keys for the program and its root helper, the TEST-ONLY key for tests.
extern const char* const kReleaseKeyPems[];
extern const size_t kReleaseKeyCount;
// The embedded keys loaded once per process; a key that does not load is left
// out (LinuxReleaseKeysAllLoad says whether that happened).
const std::vector<LinuxPublicKey>& LinuxReleaseKeys();
bool LinuxReleaseKeysAllLoad();
// True when any embedded key verifies `sigHex` over `message`.
bool LinuxVerifyRelease(const std::string& message, const std::string& sigHex);
// UpdateCore::EvaluateManifest with the embedded keys as the verifier: the
// one judgement of a manifest, made by the program and by its root helper.
bool LinuxEvaluateReleaseManifest(const std::string& manifest, const std::string& expectedTier,
                                  const std::string& currentVersion, UpdateManifestInfo& info);

// Progress of a transfer: bytes received and the total (0 when unknown).
// Returning false aborts the transfer.
using UpdateProgressFn = std::function<bool(int64_t received, int64_t total)>;

// One HTTPS GET. Writes into `file` when given, else into `body` (replaced
// only on success). Succeeds only for a complete 200 answer within `limit`
// bytes whose announced length, if any, matches what arrived.
bool HttpsGet(const std::string& url, int64_t limit, FILE* file, const UpdateProgressFn* progress,
              std::string& body);

// "appimage", "deb", "rpm", or "" when this installation cannot update itself.
std::string PackageType();
std::string OwnAppImage();
std::string OwnExe();
std::string DownloadFolderPrefix();

// Download, verify and stage; returns "" on success or the message to show.
// A package is staged with its signed manifest: "<package>|<manifest>".
std::string OsDownloadAndStageUpdate(const UpdateManifestInfo& info, const UpdateProgressFn& progress,
                                     std::string& staged);
bool OsUpdateAuthorizesFirst();
std::string OsAuthorizeUpdate();
void OsAbandonAuthorizedUpdate();
bool OsUpdateAsksPassword();
// Installs; "" on success (the program is then restarted once it ends).
std::string OsInstallStagedUpdate(const std::string& staged);
// Starts `executable` again once this process has ended.
void ReopenAfterExit(const std::string& executable);
