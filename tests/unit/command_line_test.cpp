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

}  // namespace
