#pragma once
// Small HTTP client for tests that talk to WebKitWebDriver on loopback.
#include <string>

namespace pmrtest {

// One request with a JSON body (sent for POST); the response body, empty on
// failure or timeout. Proxies are never used.
std::string Http(const std::string& method, const std::string& url, const std::string& body,
                 long timeoutSeconds = 60);

// A TCP port on 127.0.0.1 that was free a moment ago; -1 when none was found.
int FreeLoopbackPort();

}  // namespace pmrtest
