// Placeholders for the snap group coordinator: no peers, no snapping.
#include "snap/desktop_windows.h"

void DesktopWindowsStart(void*, bool, std::function<void(const std::string&)>,
                         std::function<void(std::function<void()>)>, std::function<void()>) {}
void DesktopWindowsCheckSnap() {}
void DesktopWindowsStop() {}
void DesktopSetSnapAccent(const std::string&) {}
