// The program's JSON string escape.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "base/json_escape.h"
#include "platform/os_webview.h"

namespace {

TEST(JsonEscape, Cases) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""},
      {"plain text", "\"plain text\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir\\", "\"C:\\\\dir\\\\\""},
      {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
      {"a\x01z", "\"a\\u0001z\""},
      {"\x1f", "\"\\u001f\""},
      {"\x0b", "\"\\u000b\""},
      {"nul\0here"s, "\"nul\\u0000here\""},
      {"\x7f", "\"\x7f\""},
      {"/ <\\/script> '", "\"/ <\\\\/script> '\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
      {"\xff\xfe", "\"\xff\xfe\""},  // bytes that are not UTF-8 pass through unchanged
      {" ", "\" \""},
  };
  for (const auto& [in, want] : cases) {
    EXPECT_EQ(webview::json_escape(in), want) << "input of " << in.size() << " bytes";
    EXPECT_EQ(JsonEscapeForBind(in), want);
  }
}

TEST(JsonEscape, EveryControlByteIsEscaped) {
  for (int c = 0; c < 0x20; ++c) {
    std::string out = webview::json_escape(std::string(1, static_cast<char>(c)));
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out[1], '\\') << "byte " << c;
    for (char ch : out) EXPECT_GE(static_cast<unsigned char>(ch), 0x20) << "byte " << c;
  }
}

}  // namespace
