// Command-line modes of the process entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"

namespace {

CommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "pellomar");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, Modes) {
  struct Case {
    std::vector<std::string> args;
    bool child, selfTest;
    std::string selfTestPath;
    bool hasManifest;
    std::string manifest;
  } cases[] = {
      {{}, false, false, "", false, ""},
      {{"--child"}, true, false, "", false, ""},
      {{"x.pmrmacro", "--child"}, false, false, "", false, ""},
      {{"--selftest-update=/v.json"}, false, true, "/v.json", false, ""},
      {{"a", "b", "--selftest-update=/late"}, false, true, "/late", false, ""},
      {{"--child", "--selftest-update=v"}, true, true, "v", false, ""},
      {{"--selftest-update="}, false, true, "", false, ""},  // 18 characters: still the self-test
      {{"--selftest-update"}, false, false, "", false, ""},
      {{"--update-manifest=a", "--update-manifest=b"}, false, false, "", true, "b"},
      {{"--update-manifest"}, false, false, "", false, ""},
      {{"--update-manifest="}, false, false, "", true, ""},
  };
  for (const auto& c : cases) {
    std::string label;
    for (const auto& a : c.args) label += a + " ";
    CommandLine cl = Parse(c.args);
    EXPECT_EQ(cl.child, c.child) << label;
    EXPECT_EQ(cl.selfTest, c.selfTest) << label;
    EXPECT_EQ(cl.selfTestPath, c.selfTestPath) << label;
    EXPECT_EQ(cl.hasManifestOverride, c.hasManifest) << label;
    EXPECT_EQ(cl.manifestOverride, c.manifest) << label;
  }
}

// The options beyond the old modes: what each asks for, and the one-line
// message of each mistake. The old modes win over them as before.
TEST(CommandLine, HelpVersionControlAndUsageErrors) {
  using C = ControlCommand;
  struct Case {
    std::vector<std::string> args;
    CommandLine::Mode mode;
    std::vector<ControlCommand> control;
    std::string error;  // part of the usage error
  } cases[] = {
      {{}, CommandLine::kRun, {}, ""},
      {{"a.pmrmacro", "--update-manifest=x", "--update-manifest", "--automation"}, CommandLine::kRun, {}, ""},
      {{"--", "-odd.pmrmacro"}, CommandLine::kRun, {}, ""},
      {{"-x.pmrmacro", ".pmrmacro"}, CommandLine::kRun, {}, ""},  // passed over as before, not options
      {{"--help"}, CommandLine::kHelp, {}, ""},
      {{"-h", "--version"}, CommandLine::kHelp, {}, ""},
      {{"--version", "a.pmrmacro"}, CommandLine::kVersion, {}, ""},
      {{"--toggle", "clicker", "--start=play", "--stop", "record", "--stop-all", "--hotkeys", "off",
        "--profile", "Work -- late", "--status"},
       CommandLine::kControl,
       {{C::kToggle, "clicker"}, {C::kStart, "play"}, {C::kStop, "record"}, {C::kStopAll, ""},
        {C::kHotkeys, "off"}, {C::kProfile, "Work -- late"}, {C::kStatus, ""}},
       ""},
      {{"--profile", "--status"}, CommandLine::kControl, {{C::kProfile, "--status"}}, ""},
      {{"--bogus"}, CommandLine::kUsageError, {}, "unknown option '--bogus'"},
      {{"--help", "-x"}, CommandLine::kUsageError, {}, "unknown option '-x'"},
      {{"--selftest-update"}, CommandLine::kUsageError, {}, "unknown option '--selftest-update'"},
      {{"--status", "--\x1b]0;x\x07"}, CommandLine::kUsageError, {}, "unknown option '--\\x1b]0;x\\x07'"},
      {{"--toggle", "mouse"}, CommandLine::kUsageError, {}, "--toggle takes clicker, spammer, record or play"},
      {{"--start"}, CommandLine::kUsageError, {}, "--start needs a value"},
      {{"--hotkeys=yes"}, CommandLine::kUsageError, {}, "--hotkeys takes on or off"},
      {{"--profile="}, CommandLine::kUsageError, {}, "the profile name is empty"},
      {{"--profile", "a\nb"}, CommandLine::kUsageError, {}, "control character"},
      {{"--profile", "\xff"}, CommandLine::kUsageError, {}, "not UTF-8"},
      {{"--profile", std::string(257, 'p')}, CommandLine::kUsageError, {}, "longer than 256 bytes"},
      {{"--status", "a.pmrmacro"}, CommandLine::kUsageError, {}, "files to open cannot be given"},
      // The old modes come first, whatever else is there.
      {{"--bogus", "--selftest-update=/v"}, CommandLine::kRun, {}, ""},
      {{"--child", "--bogus", "--help"}, CommandLine::kRun, {}, ""},
  };
  for (const auto& c : cases) {
    std::string label;
    for (const auto& a : c.args) label += a.substr(0, 40) + " ";
    CommandLine cl = Parse(c.args);
    EXPECT_EQ(cl.mode, c.mode) << label;
    EXPECT_EQ(cl.control, c.mode == CommandLine::kControl ? c.control : cl.control) << label;
    if (c.error.empty()) {
      EXPECT_EQ(cl.usageError, "") << label;
    } else {
      EXPECT_NE(cl.usageError.find(c.error), std::string::npos) << label << ": " << cl.usageError;
      EXPECT_EQ(cl.usageError.find('\n'), std::string::npos) << label;
      EXPECT_EQ(cl.usageError.find('\x1b'), std::string::npos) << label;
    }
  }
}

// Every option has its one line in the help; the version names the program.
TEST(CommandLine, HelpListsEveryOption) {
  const std::string help = CommandLineHelp();
  for (const char* option : {"--toggle TOOL ", "--start TOOL ", "--stop TOOL ", "--stop-all ", "--hotkeys on|off ",
                             "--profile NAME ", "--status ", "-h, --help ", "--version ", "--update-manifest=SOURCE ",
                             "--selftest-update=FILE ", "--child "}) {
    size_t at = help.find("\n  " + std::string(option));
    ASSERT_NE(at, std::string::npos) << option;
  }
  EXPECT_EQ(help.rfind("Usage: pellomar ", 0), 0u);
  EXPECT_EQ(CommandLineVersion(), "pellomar 1.0.2 (Free)\n");
}

}  // namespace
