// HTTPS transfers of the self-update with libcurl: HTTPS only, certificate
// checks on, no redirects, size and time limits.
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

#include "platform/os_update.h"
#include "update/update_core.h"

namespace {

struct Transfer {
  int64_t limit = 0;
  int64_t received = 0;
  FILE* file = nullptr;
  std::string buffer;
  const UpdateProgressFn* progress = nullptr;
  bool aborted = false;
  std::chrono::steady_clock::time_point lastReport{};
  bool reported = false;
};

size_t OnWrite(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  t->received += static_cast<int64_t>(n);
  if (t->received > t->limit) {
    t->aborted = true;
    return 0;
  }
  if (t->file) {
    if (std::fwrite(data, 1, n, t->file) != n) {
      t->aborted = true;
      return 0;
    }
  } else {
    t->buffer.append(data, n);
  }
  return n;
}

int OnProgress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  auto clock = std::chrono::steady_clock::now();
  bool complete = total > 0 && now >= total;
  if (!complete && t->reported && clock - t->lastReport < std::chrono::milliseconds(100)) return 0;
  t->reported = true;
  t->lastReport = clock;
  if (!(*t->progress)(static_cast<int64_t>(now), total < 0 ? 0 : static_cast<int64_t>(total))) {
    t->aborted = true;
    return 1;
  }
  return 0;
}

}  // namespace

std::string LinuxChooseCaBundle() {
  for (const char* var : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* v = std::getenv(var);
    if (v && *v && ::access(v, R_OK) == 0) return v;
  }
  for (const char* path : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
                           "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem", "/etc/ssl/ca-bundle.pem",
                           "/etc/ssl/cert.pem"})
    if (::access(path, R_OK) == 0) return path;
  return std::string();
}

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

void LinuxCurlHttpsOnly(CURL* curl) {
  static std::once_flag once;
  static std::string bundle;
  std::call_once(once, [] { bundle = LinuxChooseCaBundle(); });
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
#else
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS, CURLPROTO_HTTPS);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, CURLPROTO_HTTPS);
#endif
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!bundle.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, bundle.c_str());
}

bool HttpsGet(const std::string& url, int64_t limit, FILE* file, const UpdateProgressFn* progress,
              std::string& body) {
  if (url.compare(0, 8, "https://") != 0) return false;
  GlobalInit();
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  Transfer t;
  t.limit = limit;
  t.file = file;
  t.progress = progress && *progress ? progress : nullptr;

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  LinuxCurlHttpsOnly(curl);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUpdateUserAgent);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 10L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, file ? 1800L : 40L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnWrite);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
  if (t.progress) {
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  } else {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
  }

  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_off_t announced = -1;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
  curl_easy_cleanup(curl);

  if (rc != CURLE_OK || t.aborted || status != 200) return false;
  if (announced >= 1 && announced != t.received) return false;
  if (!file) body = std::move(t.buffer);
  return true;
}
