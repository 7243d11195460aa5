// The restore token file as the portal backend meets it: any bytes. The
// token read is the file's first line, never longer than the cap, and a text
// the session bus can carry (valid UTF-8 without NUL); anything else reads as
// no token. Reading never changes the file.
#include <glib.h>

#include <string>

#include "base/read_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/linux/shell/portal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmrfuzz::PrivateHome();
  static const std::string path = PortalTokenPath();
  static const bool dirMade = g_mkdir_with_parents(path.substr(0, path.rfind('/')).c_str(), 0700) == 0;
  FUZZ_CHECK(dirMade);
  const std::string text(pmrfuzz::AsText(data, size));
  FUZZ_CHECK(pmrfuzz::PutFile(path, text));

  const std::string token = PortalReadToken();
  FUZZ_CHECK(ReadFile(path) == text);
  FUZZ_CHECK(token.size() <= text.size());
  FUZZ_CHECK(token.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  FUZZ_CHECK(g_utf8_validate(token.data(), static_cast<gssize>(token.size()), nullptr));
  if (!token.empty()) {
    // The first line, whole.
    FUZZ_CHECK(text.compare(0, token.size(), token) == 0);
    FUZZ_CHECK(token.size() == text.size() || text[token.size()] == '\n' || text[token.size()] == '\r');
  }
  // A file small enough to keep, whose first line is a clean token, gives
  // exactly that line.
  const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
  if (size <= 4096 && firstLine.find('\0') == std::string::npos &&
      g_utf8_validate(firstLine.data(), static_cast<gssize>(firstLine.size()), nullptr))
    FUZZ_CHECK(token == firstLine);
  return 0;
}
