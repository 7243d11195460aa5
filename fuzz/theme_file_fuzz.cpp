// The theme file: its first line is the theme key, "pellomar" when there is
// none; the key never carries a line end.
#include <string>

#include "fuzz/fuzz_support.h"
#include "state/app_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmrfuzz::PrivateHome();
  static const std::string path = GetThemeFilePath();
  const std::string_view text = pmrfuzz::AsText(data, size);
  FUZZ_CHECK(pmrfuzz::PutFile(path, text));
  const std::string key = LoadThemeFromFile();
  FUZZ_CHECK(!key.empty());
  FUZZ_CHECK(key.find('\n') == std::string::npos);
  // Stored again as its own first line, the key reads back unchanged.
  FUZZ_CHECK(pmrfuzz::PutFile(path, key + "\n"));
  FUZZ_CHECK(LoadThemeFromFile() == key);
  return 0;
}
