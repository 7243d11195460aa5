// Signature and hash checks of updates with OpenSSL (libcrypto 3).
#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/os_update.h"
#include "update/update_core.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using ParamBld = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;

}  // namespace

std::string LinuxHexDecode(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::string();
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexValue(hex[i]);
    int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::string();
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

LinuxPublicKey LinuxP256KeyFromBlob(const unsigned char* bytes, size_t length) {
  if (!bytes || length != 72 || std::memcmp(bytes, "ECS1", 4) != 0) return nullptr;
  unsigned char point[65];
  point[0] = 0x04;  // uncompressed: X then Y
  std::memcpy(point + 1, bytes + 8, 64);

  ParamBld bld(OSSL_PARAM_BLD_new());
  if (!bld) return nullptr;
  if (!OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point))
    return nullptr;
  Params params(OSSL_PARAM_BLD_to_param(bld.get()));
  if (!params) return nullptr;
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0) return nullptr;
  EVP_PKEY* key = nullptr;
  if (EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0 || !key) return nullptr;
  return LinuxPublicKey(key, EVP_PKEY_free);
}

bool LinuxVerifyP256(const LinuxPublicKey& key, const std::string& message, const std::string& sigHex) {
  if (!key) return false;
  std::string raw = LinuxHexDecode(sigHex);
  if (raw.size() != 64) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  EcdsaSig sig(ECDSA_SIG_new());
  if (!sig) return false;
  BIGNUM* r = BN_bin2bn(p, 32, nullptr);
  BIGNUM* s = BN_bin2bn(p + 32, 32, nullptr);
  if (!r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  int derLen = i2d_ECDSA_SIG(sig.get(), &der);
  if (derLen <= 0 || !der) return false;
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(der, [](unsigned char* d) { OPENSSL_free(d); });

  MdCtx md(EVP_MD_CTX_new());
  if (!md) return false;
  if (EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(md.get(), der, static_cast<size_t>(derLen),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

std::string LinuxSha256File(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  MdCtx md(EVP_MD_CTX_new());
  bool ok = md && EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) == 1;
  std::vector<unsigned char> block(64 * 1024);
  while (ok) {
    ssize_t n = ::read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    ok = EVP_DigestUpdate(md.get(), block.data(), static_cast<size_t>(n)) == 1;
  }
  ::close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (!ok || EVP_DigestFinal_ex(md.get(), digest, &len) != 1 || len != 32) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

LinuxPublicKey LinuxP256KeyFromPem(const std::string& pem) {
  if (pem.empty() || pem.size() > 4096) return nullptr;
  std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  if (!bio) return nullptr;
  EVP_PKEY* raw = PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
  if (!raw) return nullptr;
  LinuxPublicKey key(raw, EVP_PKEY_free);
  char group[64] = {0};
  size_t len = 0;
  if (EVP_PKEY_get_base_id(raw) != EVP_PKEY_EC ||
      EVP_PKEY_get_utf8_string_param(raw, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &len) != 1 ||
      std::strcmp(group, "prime256v1") != 0)
    return nullptr;
  return key;
}

namespace {

struct ReleaseKeySet {
  std::vector<LinuxPublicKey> keys;
  bool allLoad = true;
};

const ReleaseKeySet& ReleaseKeys() {
  static const ReleaseKeySet set = [] {
    ReleaseKeySet s;
    for (size_t i = 0; i < kReleaseKeyCount; ++i) {
      LinuxPublicKey key = LinuxP256KeyFromPem(kReleaseKeyPems[i]);
      if (key)
        s.keys.push_back(key);
      else
        s.allLoad = false;
    }
    return s;
  }();
  return set;
}

}  // namespace

const std::vector<LinuxPublicKey>& LinuxReleaseKeys() { return ReleaseKeys().keys; }

bool LinuxReleaseKeysAllLoad() { return ReleaseKeys().allLoad && !ReleaseKeys().keys.empty(); }

bool LinuxVerifyRelease(const std::string& message, const std::string& sigHex) {
  for (const LinuxPublicKey& key : LinuxReleaseKeys())
    if (LinuxVerifyP256(key, message, sigHex)) return true;
  return false;
}

bool LinuxEvaluateReleaseManifest(const std::string& manifest, const std::string& expectedTier,
                                  const std::string& currentVersion, UpdateManifestInfo& info) {
  if (LinuxReleaseKeys().empty()) return false;
  return UpdateCore::EvaluateManifest(LinuxVerifyRelease, manifest, expectedTier, currentVersion, info);
}
