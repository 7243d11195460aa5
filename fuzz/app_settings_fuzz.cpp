// The app settings file as the loader meets it: any bytes. The file saved
// after loading it, loaded and saved again, is the same file.
#include <string>

#include "base/read_file.h"
#include "fuzz/fuzz_support.h"
#include "state/app_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmrfuzz::PrivateHome();
  static const std::string path = GetAppSettingsFilePath();
  ResetAppSettingsForTest();
  FUZZ_CHECK(pmrfuzz::PutFile(path, pmrfuzz::AsText(data, size)));
  LoadAppSettings();
  for (const std::string& id : g_MinimizedPanels) FUZZ_CHECK(IsKnownPanelId(id));
  for (const std::string& id : g_PanelOrder) FUZZ_CHECK(IsKnownPanelId(id));
  FUZZ_CHECK(SaveAppSettings());
  const std::string first = ReadFile(path);
  const std::string firstJson = BindGetAppSettings();

  ResetAppSettingsForTest();
  LoadAppSettings();
  FUZZ_CHECK(BindGetAppSettings() == firstJson);
  FUZZ_CHECK(SaveAppSettings());
  FUZZ_CHECK(ReadFile(path) == first);
  return 0;
}
