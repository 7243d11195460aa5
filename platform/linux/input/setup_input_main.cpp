// setup-input: the one-time input access setup, run as root through pkexec
// (polkit action app.pellomar.free.setup-input). It takes no arguments and
// always makes the same steps: the udev rule that lets the person at the
// computer use keyboards, mice and uinput, the file that loads uinput at every
// start, and the udevadm calls that apply the rule to the devices present.
// Exit status 0 when done, 1 when a step failed, 2 when given arguments.
#include <cstdio>
#include <string>

#include "platform/linux/input/setup.h"

int main(int argc, char**) {
  if (argc != 1) {
    std::fprintf(stderr, "setup-input: takes no arguments\n");
    return 2;
  }
  std::string problem = RunInputSetupSteps("/etc");
  if (problem.empty()) return 0;
  std::fprintf(stderr, "setup-input: %s\n", problem.c_str());
  return 1;
}
