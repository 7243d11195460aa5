#pragma once
// The snap group coordinator's entry points used by start-up and shutdown.
#include <functional>
#include <string>

void DesktopWindowsStart(void* window, bool master,
                         std::function<void(const std::string&)> eval,
                         std::function<void(std::function<void()>)> dispatch,
                         std::function<void()> terminate);
void DesktopWindowsCheckSnap();
void DesktopWindowsStop();
// Accent colour text from the page: "colour;text colour;animated".
void DesktopSetSnapAccent(const std::string& spec);
// The snap look as last set: accent 0xRRGGBB, light style, animation on.
unsigned DesktopSnapAccent();
bool DesktopSnapLight();
bool DesktopSnapAnimated();
