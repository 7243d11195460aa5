// A WebDriver session attaches to a program built on the web host: the
// program is started by WebKitWebDriver with the argument "--automation",
// and the session reads its page and calls its bound function.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/http_client.h"

extern char** environ;

namespace {

using pmrtest::FreeLoopbackPort;
using pmrtest::Http;

const char* const kDriver = "/usr/bin/WebKitWebDriver";
const std::string kHost = PMR_BINARY_DIR "/tests/e2e/webview_automation_host";

std::string Field(const std::string& json, const std::string& key) {
  const std::string k = "\"" + key + "\":\"";
  size_t p = json.find(k);
  if (p == std::string::npos) return {};
  p += k.size();
  size_t e = json.find('"', p);
  return e == std::string::npos ? std::string() : json.substr(p, e - p);
}

class Driver {
 public:
  bool Start() {
    port_ = FreeLoopbackPort();
    if (port_ <= 0) return false;
    std::string port_arg = "--port=" + std::to_string(port_);
    char* argv[] = {const_cast<char*>(kDriver), port_arg.data(), nullptr};
    if (posix_spawn(&pid_, kDriver, nullptr, nullptr, argv, environ) != 0) {
      pid_ = -1;
      return false;
    }
    // Until the driver answers that it is ready; the limit only ends a hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Http("GET", Url("/status"), "", 2).find("\"ready\":true") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  ~Driver() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int port_ = -1;
  pid_t pid_ = -1;
};

TEST(WebDriverAttach, SessionDrivesTheHostPage) {
  ASSERT_EQ(access(kDriver, X_OK), 0) << "WebKitWebDriver is missing (package webkit2gtk-driver)";
  ASSERT_EQ(access(kHost.c_str(), X_OK), 0) << kHost;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  Driver driver;
  ASSERT_TRUE(driver.Start());

  const std::string caps =
      "{\"capabilities\":{\"alwaysMatch\":{\"webkitgtk:browserOptions\":{\"binary\":\"" + kHost +
      "\",\"args\":[\"--automation\"]}}}}";
  const std::string created = Http("POST", driver.Url("/session"), caps);
  const std::string sid = Field(created, "sessionId");
  ASSERT_FALSE(sid.empty()) << created;
  // The browser name a session may ask for is the program's file name.
  EXPECT_EQ(Field(created, "browserName"), "webview_automation_host") << created;

  const std::string base = "/session/" + sid;
  EXPECT_EQ(Http("GET", driver.Url(base + "/title"), ""), "{\"value\":\"automation host\"}");
  EXPECT_EQ(Http("POST", driver.Url(base + "/execute/sync"),
                 "{\"script\":\"return document.getElementById('msg').textContent + ' ' + "
                 "typeof hostAdd\",\"args\":[]}"),
            "{\"value\":\"ready function\"}");
  EXPECT_EQ(Http("POST", driver.Url(base + "/execute/async"),
                 "{\"script\":\"const done = arguments[arguments.length - 1]; "
                 "hostAdd(2, 40).then(done, e => done('rejected ' + e));\",\"args\":[]}"),
            "{\"value\":42}");
  EXPECT_EQ(Http("DELETE", driver.Url(base), ""), "{\"value\":null}");
  curl_global_cleanup();
}

}  // namespace
