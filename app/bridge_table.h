#pragma once
// The bridge table behind BindBridgeFunctions: every bound name with its
// handler, in registration order. Built against a small context instead of
// the web view itself, so the handlers can be driven without a window.
#include <functional>
#include <string>
#include <vector>

struct BridgeContext {
  // Posts a task to the main loop (the web view's dispatch).
  std::function<void(std::function<void()>)> dispatch;
  // Loads the main page into the view.
  std::function<void()> loadMainUi;
  // The asynchronous startUpdate call: call id and argument text.
  std::function<void(const std::string& id, const std::string& args)> startUpdate;
};

struct BridgeBinding {
  std::string name;
  // Synchronous handler: argument array text in, JSON result (or empty) out.
  std::function<std::string(const std::string& args)> sync;
  // Set instead of `sync` for the one asynchronous binding.
  std::function<void(const std::string& id, const std::string& args)> async;
};

// Every binding but setTitleBarColors, in registration order.
std::vector<BridgeBinding> BuildBridgeTable(const BridgeContext& ctx);
// The setTitleBarColors handler for one native window (a GtkWindow*).
std::string HandleSetTitleBarColors(void* window, const std::string& args);

// A decimal 32-bit integer filling the whole text (optional sign).
bool ParseDecimalInt32(const std::string& text, int& out);
// The first `count` fields of the unwrapped argument as 32-bit integers;
// false when there are fewer fields or one of them is not an integer.
bool BridgeIntArgs(const std::string& args, size_t count, int* out);
// The first argument of a call when it is a JSON string, unescaped; false
// when there is none or it is not a string.
bool FirstStringArgument(const std::string& args, std::string& out);

// Addresses opened by openLink.
inline constexpr const char* kDocsUrl = "https://pellomar.app/docs";
inline constexpr const char* kCommunityUrl = "https://pellomar.app/community";

// The boot page's bindings (app/bridge_permissions.cpp).
std::string BuildPermissionStatusJson(bool accessibility, bool input, bool ready,
                                      const std::string& setup, const std::string& commands,
                                      const std::string& gnome, const std::string& problem,
                                      int inputDevices);
std::string HandlePermissionStatus();
void HandleRequestPermission(const std::string& args);
std::string HandleInstallGnomeHelper();
void HandleContinue(const BridgeContext& ctx);
