// The boot page and main page loaders, the page bundle in the source tree,
// and the injected user script.
#include <gtest/gtest.h>
#include <jsc/jsc.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/app.h"
#include "app/bridge.h"
#include "app/pages.h"

namespace {

const std::string kErrorBoot = "<h2>Error loading UI</h2><p>linux-ui/boot.html is missing from the app.</p>";
const std::string kErrorMain = "<h2>Error loading UI</h2><p>ui/index.html is missing from the app bundle.</p>";
const std::string kTag = "<script src=\"vendor/Sortable.min.js\"></script>";

std::string TempDir() {
  char tmpl[] = "/tmp/pmr-pages-XXXXXX";
  return mkdtemp(tmpl);
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

TEST(BootPage, KindAndSettingsName) {
  struct Case {
    std::string file, kind, expected;
  } cases[] = {
      {"<p>__PMR_BOOT_MODE__</p>", "permissions", "<p>permissions</p>"},
      {"a __PMR_BOOT_MODE__ b __PMR_BOOT_MODE__", "reset", "a reset b __PMR_BOOT_MODE__"},
      {"__PMR_BOOT_MODE__ System Settings, then System Settings", "reset", "reset Settings, then Settings"},
      // The inserted name is not scanned again.
      {"__PMR_BOOT_MODE__ System System Settings", "x", "x System Settings"},
      {"System Settings__PMR_BOOT_MODE__", "permissions", "Settingspermissions"},
      {"__PMR_BOOT_MODE__", "", ""},
      {"no placeholder here", "permissions", kErrorBoot},
      {"__PMR_BOOT_MODE", "permissions", kErrorBoot},
      {"", "permissions", kErrorBoot},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildBootPageHtml(c.file, c.kind), c.expected) << c.file;
}

TEST(MainPage, InliningRules) {
  const std::string sortable = "window.Sortable={create:function(){}};";
  struct Case {
    const char* what;
    std::string page;
    bool writeVendor;
    std::string vendor;
    bool inlined;
  } cases[] = {
      {"tag replaced", "<html>" + kTag + "<p>x</p></html>", true, sortable, true},
      {"missing vendor file", "<html>" + kTag + "</html>", false, "", false},
      {"empty vendor file", "<html>" + kTag + "</html>", true, "", false},
      {"vendor with a closing tag", "<html>" + kTag + "</html>", true, "a='</script>';", false},
      {"other attributes", "<html><script defer src=\"vendor/Sortable.min.js\"></script></html>", true, sortable, false},
  };
  for (const Case& c : cases) {
    std::string dir = TempDir();
    ::mkdir((dir + "/vendor").c_str(), 0700);
    Write(dir + "/index.html", c.page);
    if (c.writeVendor) Write(dir + "/vendor/Sortable.min.js", c.vendor);
    std::string html = BuildMainPageHtml(dir);
    if (c.inlined) {
      std::string expected = c.page;
      expected.replace(expected.find(kTag), kTag.size(), "<script>" + c.vendor + "</script>");
      EXPECT_EQ(html, expected) << c.what;
    } else {
      EXPECT_EQ(html, c.page) << c.what;
    }
  }
}

TEST(MainPage, SizeLimitIsTwoMebibytes) {
  // page - tag + content + 17 must stay at or below 2,097,152 bytes.
  std::string page = "<html>" + kTag + "</html>";
  size_t room = kMaxInlinedPageBytes - (page.size() - kTag.size() + 17);
  for (size_t extra : {size_t(0), size_t(1)}) {
    std::string dir = TempDir();
    ::mkdir((dir + "/vendor").c_str(), 0700);
    Write(dir + "/index.html", page);
    Write(dir + "/vendor/Sortable.min.js", std::string(room + extra, 'x'));
    std::string html = BuildMainPageHtml(dir);
    if (extra == 0) {
      EXPECT_EQ(html.size(), kMaxInlinedPageBytes);
      EXPECT_EQ(html.find(kTag), std::string::npos);
    } else {
      EXPECT_EQ(html, page);
    }
  }
}

TEST(MainPage, MissingOrEmptyIndexShowsTheErrorPage) {
  std::string dir = TempDir();
  EXPECT_EQ(BuildMainPageHtml(dir), kErrorMain);
  Write(dir + "/index.html", "");
  EXPECT_EQ(BuildMainPageHtml(dir), kErrorMain);
  EXPECT_EQ(BuildMainPageHtml(dir + "/nowhere"), kErrorMain);
}

// ---- the bundle in the source tree --------------------------------------------

TEST(PageBundle, MainPageKeepsItsContract) {
  std::string page = ReadFile(std::string(PMR_SOURCE_DIR) + "/ui/index.html");
  ASSERT_FALSE(page.empty());
  // The one script that is inlined; nothing else may be loaded by address.
  EXPECT_NE(page.find(kTag), std::string::npos);
  for (const char* relative : {"<link ", "src=\"./", "href=\"./", "@import"})
    EXPECT_EQ(page.find(relative), std::string::npos) << relative;
  for (const char* id : {"panel-spammer", "panel-keyspam", "panel-tracker", "panel-profile", "panel-ui",
                         "opt-launch-startup", "getAppSettings", "getTrackerStatus", "getSettings",
                         "setPanelOrder", "Segoe UI", "onUpdateAvailable", "onUpdateProgress",
                         "onUpdateAuthorizing", "onUpdateInstalling", "setCanvasFrame"})
    EXPECT_NE(page.find(id), std::string::npos) << id;

  // With Debian's Sortable beside it, the page inlines it and stays below the limit.
  const std::string sortable = "/usr/share/javascript/sortable/Sortable.min.js";
  std::string vendor = ReadFile(sortable);
  if (vendor.empty()) GTEST_SKIP() << sortable << " is not installed";
  std::string dir = TempDir();
  ::mkdir((dir + "/vendor").c_str(), 0700);
  Write(dir + "/index.html", page);
  Write(dir + "/vendor/Sortable.min.js", vendor);
  std::string html = BuildMainPageHtml(dir);
  EXPECT_EQ(html.find(kTag), std::string::npos);
  EXPECT_NE(html.find(vendor), std::string::npos);
  EXPECT_LE(html.size(), kMaxInlinedPageBytes);
}

TEST(PageBundle, BootPageHasItsPlaceholder) {
  std::string boot = ReadFile(std::string(PMR_SOURCE_DIR) + "/linux-ui/boot.html");
  ASSERT_FALSE(boot.empty());
  EXPECT_NE(boot.find("__PMR_BOOT_MODE__"), std::string::npos);
  for (const char* name : {"pmrMacPermissionStatus", "pmrMacRequestPermission", "pmrLinuxInstallGnomeHelper",
                           "pmrMacContinue"})
    EXPECT_NE(boot.find(name), std::string::npos) << name;
  for (const char* kind : {"permissions", "reset"}) {
    std::string html = BuildBootPageHtml(boot, kind);
    EXPECT_NE(html.find(kind), std::string::npos);
    EXPECT_EQ(html.find("System Settings"), std::string::npos);
  }
}

// ---- scripts parse -------------------------------------------------------------

// Every inline script of a page, in order.
std::vector<std::string> InlineScripts(const std::string& html) {
  std::vector<std::string> out;
  size_t pos = 0;
  while ((pos = html.find("<script>", pos)) != std::string::npos) {
    size_t start = pos + 8;
    size_t end = html.find("</script>", start);
    if (end == std::string::npos) break;
    out.push_back(html.substr(start, end - start));
    pos = end + 9;
  }
  return out;
}

void ExpectValidScript(const std::string& code, const std::string& what) {
  JSCContext* ctx = jsc_context_new();
  JSCException* ex = nullptr;
  JSCCheckSyntaxResult r = jsc_context_check_syntax(ctx, code.c_str(), static_cast<gssize>(code.size()),
                                                     JSC_CHECK_SYNTAX_MODE_SCRIPT, what.c_str(), 1, &ex);
  EXPECT_EQ(r, JSC_CHECK_SYNTAX_RESULT_SUCCESS)
      << what << ": " << (ex ? jsc_exception_report(ex) : "");
  if (ex) g_object_unref(ex);
  g_object_unref(ctx);
}

TEST(Scripts, InjectedAndPageScriptsParse) {
  ExpectValidScript(InjectedUserScript(), "injected user script");
  for (const char* page : {"/ui/index.html", "/linux-ui/boot.html"}) {
    std::string html = ReadFile(std::string(PMR_SOURCE_DIR) + page);
    std::vector<std::string> scripts = InlineScripts(html);
    EXPECT_FALSE(scripts.empty()) << page;
    for (size_t i = 0; i < scripts.size(); ++i) ExpectValidScript(scripts[i], std::string(page) + " #" + std::to_string(i));
  }
}

// The injected script run against a minimal stand-in for the page: it must
// install its handlers and route alert to the native function.
TEST(Scripts, InjectedScriptInstallsItsHandlers) {
  const char* prelude = R"JS(
    var added = {}, alerts = [];
    var document = {
      addEventListener: function (type, fn, capture) { (added[type] = added[type] || []).push(!!capture); }
    };
    var window = { pmrMacAlert: function (m) { alerts.push(m); } };
  )JS";
  std::string code = std::string(prelude) + InjectedUserScript() +
                     "\nwindow.alert(42); window.alert('x\"y');"
                     "JSON.stringify({added: added, alerts: alerts});";
  JSCContext* ctx = jsc_context_new();
  JSCValue* result = jsc_context_evaluate(ctx, code.c_str(), static_cast<gssize>(code.size()));
  JSCException* ex = jsc_context_get_exception(ctx);
  ASSERT_EQ(ex, nullptr) << jsc_exception_report(ex);
  char* text = jsc_value_to_string(result);
  EXPECT_STREQ(text,
               "{\"added\":{\"contextmenu\":[true],\"keydown\":[true],\"mousedown\":[true],"
               "\"mouseup\":[true],\"DOMContentLoaded\":[false]},\"alerts\":[\"42\",\"x\\\"y\"]}");
  g_free(text);
  g_object_unref(result);
  g_object_unref(ctx);
}

}  // namespace
