#include "tests/support/gtk_test_env.h"

#include <gtk/gtk.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace pmrtest {

bool InitGtkOnce() {
  static const bool ok = gtk_init_check(nullptr, nullptr);
  return ok;
}

bool SpinUntil(const std::function<bool()>& cond, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return cond();
    if (!g_main_context_iteration(nullptr, FALSE))
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void SpinFor(int ms) {
  SpinUntil([] { return false; }, ms);
}

int RunCommand(const std::string& command) {
  int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace pmrtest
