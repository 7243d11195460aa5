// Loading the boot page and the main page.
#include "app/pages.h"

#include "app/app.h"
#include "platform/os_webview.h"
#include "platform/os_window.h"
#include "state/app_settings.h"

namespace {

// Scripts of the main page that are inlined, by page-relative path.
const char* const kInlinedScripts[] = {"vendor/Sortable.min.js", "macro_editor.js", "clicker-extras.js"};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();  // never rescans the inserted text
  }
  return text;
}

}  // namespace

std::string BuildBootPageHtml(const std::string& file, const std::string& kind) {
  size_t at = file.find(kBootModePlaceholder);
  if (at == std::string::npos)
    return std::string("<h2>Error loading UI</h2><p>") + kBootPagePath + " is missing from the app.</p>";
  std::string html = file;
  html.replace(at, std::string(kBootModePlaceholder).size(), kind);
  return ReplaceAll(std::move(html), "System Settings", OsSettingsAppName());
}

std::string BuildMainPageHtml(const std::string& uiDir) {
  std::string html = ReadFile(uiDir + "/index.html");
  if (html.empty())
    return "<h2>Error loading UI</h2><p>ui/index.html is missing from the app bundle.</p>";
  for (const char* path : kInlinedScripts) {
    std::string tag = std::string("<script src=\"") + path + "\"></script>";
    size_t at = html.find(tag);
    if (at == std::string::npos) continue;
    std::string content = ReadFile(uiDir + "/" + path);
    if (content.empty() || content.find("</script>") != std::string::npos) continue;
    if (html.size() - tag.size() + content.size() + 17 > kMaxInlinedPageBytes) continue;
    html.replace(at, tag.size(), "<script>" + content + "</script>");
  }
  return html;
}

void LoadBootPage(webview::WebView& w, const std::string& kind) {
  std::string html = BuildBootPageHtml(ReadFile(OsResourceDir() + "/" + kBootPagePath), kind);
  // The look as the page is loaded; the boot page does not follow later changes.
  const std::string root = "<html lang=\"en\"";
  const size_t at = html.find(root);
  if (at != std::string::npos && at < 64)
    html.insert(at + root.size(), PagesLookDark() ? " data-theme=\"dark\"" : " data-theme=\"light\"");
  w.set_html(html);
}

void LoadMainUi(webview::WebView& w) {
  g_MainPageReady.store(false);
  w.set_html(BuildMainPageHtml(OsResourceDir() + "/ui"));
}
