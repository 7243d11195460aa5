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
// then sets the directory itself to mode 0700 when it is a directory of this
// user (a file or another user's directory in its place is left alone).
void EnsurePrivateDirectory(const std::string& path);
// Why `dir` cannot safely hold this user's state, as one sentence for the
// user; empty when it can. It must exist and be a directory (a link to one is
// fine), be owned by this user, be writable by this user and by nobody else;
// and no directory above it may belong to another user (root aside) or be
// writable by everyone without the sticky bit, since whoever can change a
// directory above could swap the data directory for one of their own.
std::string DataDirProblem(const std::string& dir);
