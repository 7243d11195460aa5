// The module variant of the GNOME helper (GNOME Shell 45 and later) cannot
// run in the GNOME Shell 43 the tests have: gjs loads it as a module instead,
// with the shell's own Extension base class stood in for, and checks that it
// exports what the shell's loader needs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "base/read_file.h"
#include "tests/support/process.h"

namespace {

const std::string kSource = std::string(PMR_BINARY_DIR) + "/linux-ui/gnome-extension";

void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(GnomeExtensionModule, LoadsAsAModuleAndExportsTheExtensionClass) {
  if (access("/usr/bin/gjs", X_OK) != 0) GTEST_SKIP() << "gjs is not installed (package gjs)";
  const std::string dir = pmrtest::MakeTempDir("gnome-esm");
  std::string extension = ReadFile(kSource + "/esm/extension.js");
  const std::string shellImport = "resource:///org/gnome/shell/extensions/extension.js";
  size_t at = extension.find(shellImport);
  ASSERT_NE(at, std::string::npos) << "the module variant must import the shell's Extension class";
  extension.replace(at, shellImport.size(), "./stand-in-extension.js");
  Write(dir + "/extension.js", extension);
  Write(dir + "/shell.js", ReadFile(kSource + "/shell.js"));  // copied unchanged for 45 and later
  Write(dir + "/stand-in-extension.js",
        "export class Extension { constructor(metadata) { this.metadata = metadata; } }\n");
  Write(dir + "/check.js",
        "const ext = await import('./extension.js');\n"
        "const Cls = ext.default;\n"
        "if (typeof Cls !== 'function') throw new Error('no default export class');\n"
        "const base = await import('./stand-in-extension.js');\n"
        "const e = new Cls({uuid: 'pellomar-helper@pellomar.app'});\n"
        "if (!(e instanceof base.Extension)) throw new Error('does not extend Extension');\n"
        "if (typeof e.enable !== 'function' || typeof e.disable !== 'function') throw new Error('no enable/disable');\n"
        "const shell = await import('./shell.js');\n"
        "if (typeof shell.PmrShell !== 'function') throw new Error('shell.js exports no PmrShell');\n"
        "const s = new shell.PmrShell({Gio: null, GLib: null});\n"
        "if (s.Version !== 2) throw new Error('Version is ' + s.Version);\n"
        "for (const m of ['RegisterAsync', 'GetPointerAsync', 'WindowPidAtAsync', 'SetAboveAsync', 'MoveFrameAsync', 'GetFrameAsync',\n"
        "                 'enable', 'disable'])\n"
        "  if (typeof s[m] !== 'function') throw new Error('PmrShell lacks ' + m);\n"
        "e.disable();  // before enable: nothing to undo\n"
        "print('module ok');\n");
  std::string out;
  int rc = pmrtest::Run({"/usr/bin/gjs", "-m", dir + "/check.js"}, &out, {}, 60);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("module ok"), std::string::npos) << out;

  // The same checker catches a broken module: a syntax error fails it.
  Write(dir + "/extension.js", extension + "\nexport default class {\n");
  out.clear();
  EXPECT_NE(pmrtest::Run({"/usr/bin/gjs", "-m", dir + "/check.js"}, &out, {}, 60), 0) << out;
}

}  // namespace
