// Panel order texts: an accepted order holds known ids only, each once, and
// its comma list is accepted again as the same order; a refused text leaves
// the order as it was.
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "state/app_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(pmrfuzz::AsText(data, size));
  const std::vector<std::string> before = {"sentinel"};
  std::vector<std::string> order = before;
  if (!ParsePanelOrder(text, order)) {
    FUZZ_CHECK(order == before);
    return 0;
  }
  std::set<std::string> seen;
  std::string joined;
  for (const std::string& id : order) {
    FUZZ_CHECK(IsKnownPanelId(id));
    FUZZ_CHECK(seen.insert(id).second);
    if (!joined.empty()) joined += ',';
    joined += id;
  }
  std::vector<std::string> again;
  FUZZ_CHECK(ParsePanelOrder(joined, again));
  FUZZ_CHECK(again == order);
  return 0;
}
