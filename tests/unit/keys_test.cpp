// Key table, VK <-> evdev lookups and the layout-independent key names.
// Nothing here opens a display, so the layout label cache stays empty and
// every layout-following key falls back to its plain name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <utility>

#include "platform/os_keys.h"

namespace {

TEST(KeyTable, HasAllRowsInRangeAndInOrder) {
  ASSERT_EQ(kKeyCount, 131);
  std::set<std::pair<int, int>> seen;
  for (const KeyPair& k : kKeys) {
    EXPECT_GE(k.vk, 1);
    EXPECT_LE(k.vk, 255);
    EXPECT_GE(k.evdev, 1);
    EXPECT_LE(k.evdev, 767);
    EXPECT_TRUE(seen.insert({k.vk, k.evdev}).second) << "duplicate row " << k.vk << "," << k.evdev;
  }
  // Rows whose position decides the lookups.
  struct Row { int index, vk, evdev; };
  const Row rows[] = {
      {0, 8, 14},    {1, 9, 15},     {2, 13, 28},    {3, 13, 96},   {4, 160, 42},
      {5, 16, 42},   {6, 161, 54},   {28, 44, 99},   {29, 44, 210}, {30, 42, 210},
      {38, 48, 11},  {39, 49, 2},    {48, 65, 30},   {73, 90, 44},  {74, 96, 82},
      {130, 226, 86},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(kKeys[r.index].vk, r.vk) << "row " << r.index;
    EXPECT_EQ(kKeys[r.index].evdev, r.evdev) << "row " << r.index;
  }
}

TEST(KeyTable, VkToEvdev) {
  const std::pair<int, int> cases[] = {
      {13, 28},   {44, 99},   {16, 42},   {160, 42},  {17, 29},  {162, 29},  {18, 56},
      {164, 56},  {161, 54},  {163, 97},  {165, 100}, {42, 210}, {48, 11},   {49, 2},
      {57, 10},   {65, 30},   {81, 16},   {77, 50},   {90, 44},  {96, 82},   {97, 79},
      {100, 75},  {105, 73},  {106, 55},  {108, 121}, {111, 98}, {112, 59},  {121, 68},
      {122, 87},  {123, 88},  {124, 183}, {135, 194}, {41, 353}, {12, 355},  {3, 223},
      {186, 39},  {192, 41},  {222, 40},  {226, 86},
      // mouse buttons, unknown and out-of-range codes
      {1, -1},    {2, -1},    {4, -1},    {5, -1},    {6, -1},   {0, -1},    {7, -1},
      {255, -1},  {256, -1},  {-1, -1},   {100000, -1},
  };
  for (auto [vk, evdev] : cases) EXPECT_EQ(VkToEvdev(vk), evdev) << "vk " << vk;
}

TEST(KeyTable, EvdevToVk) {
  const std::pair<int, int> cases[] = {
      {42, 160}, {54, 161}, {29, 162}, {97, 163}, {56, 164}, {100, 165}, {210, 44}, {99, 44},
      {96, 13},  {28, 13},  {2, 49},   {11, 48},  {30, 65},  {44, 90},   {82, 96},  {68, 121},
      {87, 122}, {194, 135}, {353, 41}, {355, 12}, {86, 226}, {125, 91},
      // no row, mouse buttons, out of range
      {0, 0},    {84, 0},   {272, 0},  {273, 0},  {275, 0},  {767, 0},   {768, 0},  {-1, 0},
  };
  for (auto [code, vk] : cases) EXPECT_EQ(EvdevToVk(code), vk) << "evdev " << code;
}

TEST(KeyTable, CaptureNeverReportsGenericModifiers) {
  for (int code = 0; code < 768; ++code) {
    int vk = EvdevToVk(code);
    EXPECT_TRUE(vk != 16 && vk != 17 && vk != 18) << "evdev " << code << " gives " << vk;
  }
}

TEST(KeyNames, FixedAndFallbackNames) {
  const std::pair<int, const char*> cases[] = {
      {1, "Left Mouse"},     {2, "Right Mouse"},     {4, "Middle Mouse"},  {5, "Mouse 4 (Side)"},
      {6, "Mouse 5 (Side)"}, {8, "Backspace"},       {9, "Tab"},           {13, "Enter"},
      {16, "Shift"},         {160, "Shift"},         {17, "Ctrl"},         {162, "Ctrl"},
      {18, "Alt"},           {164, "Alt"},           {161, "Right Shift"}, {163, "Right Ctrl"},
      {165, "Right Alt"},    {19, "Pause"},          {20, "Caps Lock"},    {27, "Esc"},
      {32, "Space"},         {33, "Page Up"},        {34, "Page Down"},    {35, "End"},
      {36, "Home"},          {37, "Left"},           {38, "Up"},           {39, "Right"},
      {40, "Down"},          {44, "Print Screen"},   {45, "Insert"},       {46, "Delete"},
      {91, "Super"},         {92, "Right Super"},    {93, "Menu"},         {96, "Num 0"},
      {101, "Num 5"},        {105, "Num 9"},         {106, "Num *"},       {107, "Num +"},
      {109, "Num -"},        {110, "Num ."},         {111, "Num /"},       {112, "F1"},
      {121, "F10"},          {123, "F12"},           {124, "F13"},         {135, "F24"},
      {144, "Num Lock"},     {145, "Scroll Lock"},   {173, "Mute"},        {174, "Volume Down"},
      {175, "Volume Up"},    {192, "`"},
      // layout keys with an empty label cache fall back to plain names
      {48, "0"},             {57, "9"},              {65, "A"},            {90, "Z"},
      {186, ";"},            {187, "="},             {188, ","},           {189, "-"},
      {190, "."},            {191, "/"},             {219, "["},           {220, "Backslash"},
      {221, "]"},            {222, "'"},             {226, "<"},
      // everything else
      {0, "Key[0]"},         {-3, "Key[-3]"},        {3, "Key[3]"},        {12, "Key[12]"},
      {41, "Key[41]"},       {42, "Key[42]"},        {108, "Key[108]"},    {136, "Key[136]"},
      {255, "Key[255]"},     {256, "Key[256]"},      {300, "Key[300]"},
  };
  for (auto [vk, name] : cases) {
    EXPECT_EQ(OsKeyName(vk), name) << "vk " << vk;
    EXPECT_EQ(GetKeyName(vk), name) << "vk " << vk;
  }
}

TEST(KeyNames, WatchingWithoutDisplayKeepsFallbacks) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  OsKeysWatchLayout();
  EXPECT_EQ(OsKeyName(65), "A");
  EXPECT_EQ(OsKeyName(186), ";");
  EXPECT_EQ(OsKeyName(220), "Backslash");
  EXPECT_EQ(OsKeyName(160), "Shift");
}

}  // namespace
