// The files a second start leaves for the running instance: the lock file's
// owner line and the pending-open list. A lock owner is a positive process id
// read back from its own digits; every delivered path is one whole non-empty
// line of the list, in order, and the list is gone afterwards.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/strings.h"
#include "fuzz/fuzz_support.h"
#include "platform/linux/gtk/gtk_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmrfuzz::PrivateHome();
  const std::string text(pmrfuzz::AsText(data, size));

  const int pid = pmrgtk::LockFileOwnerPid(text);
  FUZZ_CHECK(pid >= 0);
  if (pid > 0) FUZZ_CHECK(pmrgtk::LockFileOwnerPid(std::to_string(pid) + "\n") == pid);

  static const std::string pending = [] {
    const std::string p = pmrgtk::PendingOpenFilePath();
    pmrgtk::MakeDirectories(p.substr(0, p.rfind('/')), 0700);
    return p;
  }();
  FUZZ_CHECK(pmrfuzz::PutFile(pending, text));
  std::vector<std::string> delivered;
  bool called = false;
  pmrgtk::g_Hooks.openFiles = [&](const std::vector<std::string>& files) {
    called = true;
    delivered = files;
  };
  pmrgtk::DeliverPendingFiles();
  pmrgtk::g_Hooks.openFiles = nullptr;
  struct stat st;
  FUZZ_CHECK(lstat(pending.c_str(), &st) != 0);

  std::vector<std::string> lines;
  for (std::string& line : SplitString(text, '\n'))
    if (!line.empty()) lines.push_back(std::move(line));
  FUZZ_CHECK(called == !lines.empty());
  FUZZ_CHECK(delivered == lines);
  return 0;
}
