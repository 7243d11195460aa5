#pragma once
// The GNOME Shell helper extension: its identity, where it is installed, and
// the rules the client applies to what it finds (helper state, install
// choices). The D-Bus and GSettings work lives in gnome.cpp.
#include <cstdint>
#include <string>
#include <vector>

// The extension's UUID: its install directory name and the value listed in
// the shell's enabled-extensions setting (must match metadata.json).
inline constexpr const char* kGnomeHelperUuid = "pellomar-helper@pellomar.app";
// The object the running helper serves on the shell's bus name.
inline constexpr const char* kGnomeHelperBus = "org.gnome.Shell";
inline constexpr const char* kGnomeHelperPath = "/app/pellomar/Shell";
inline constexpr const char* kGnomeHelperIface = "app.pellomar.Shell1";
// The helper protocol version this program speaks. Version 2 answers only
// callers that registered and run the same executable as the first one; a
// running version 1 answers anyone and is reported "outdated".
inline constexpr uint32_t kGnomeHelperVersion = 2;

// XDG_DATA_HOME when set and non-empty, else $HOME/.local/share; then
// "/gnome-shell/extensions/" + the UUID. Read from the environment each call.
std::string GnomeHelperDir();

// The leading decimal number of a shell version text ("43.9" -> 43); 0 when
// there is none.
int GnomeShellMajor(const std::string& version);
// Shells 1 to 44 load the legacy (non-module) extension.js; every other
// answer, including an unknown version (0), gets the module variant.
bool GnomeUsesLegacyExtension(int major);
// The legacy loader cannot read "export": the first "export class PmrShell"
// becomes "var PmrShell = class PmrShell". False when there is none.
bool GnomePatchLegacyShellJs(std::string& text);
// The list without any copy of uuid, keeping the order of the others.
std::vector<std::string> GnomeListWithout(const std::vector<std::string>& list, const std::string& uuid);

// What the helper state is decided from.
struct GnomeHelperFacts {
  bool gnomeWayland = false;        // a GNOME Wayland session
  bool haveRunningVersion = false;  // the running helper answered Version
  uint32_t runningVersion = 0;
  bool enabled = false;              // listed as enabled and not disabled
  bool userExtensionsDisabled = false;
  std::string marker;                // content of the installed marker file
};
// "n/a", "active", "blocked", "outdated", "installed" or "missing".
std::string GnomeHelperStateFrom(const GnomeHelperFacts& facts);
