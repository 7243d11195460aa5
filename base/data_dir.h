#pragma once
// Where the per-user state lives.
#include <string>

// XDG_DATA_HOME when it is set and absolute; else $HOME/.local/share when HOME
// is set and not empty; else /tmp/.local/share. Read from the environment on
// every call.
std::string XdgDataHome();
// XdgDataHome() + "/Pellomar", worked out once per process; on that first use
// every missing component is created with mode 0700 and the directory itself
// is set to 0700.
std::string OsDataDir();
// Creates every missing component of `path` (mode 0700, failures ignored),
// then sets the directory itself to mode 0700.
void EnsurePrivateDirectory(const std::string& path);
