# A tiny program on the web host that a WebDriver session attaches to
# (tests/e2e/webdriver_attach_test.cpp starts it through WebKitWebDriver).
add_executable(webview_automation_host ${CMAKE_CURRENT_LIST_DIR}/webview_automation_host.cpp)
target_link_libraries(webview_automation_host PRIVATE pmr_core)
set_target_properties(webview_automation_host PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/e2e)
# Every test program links pmr_testsupport, so building any test builds the host.
add_dependencies(pmr_testsupport webview_automation_host)
