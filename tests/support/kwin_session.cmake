# The KWin test session: KWin's fake-input protocol (from Debian's
# plasma-wayland-protocols) for pointer moves, and a small GTK client window
# program for windows of other processes.
find_file(PMR_FAKE_INPUT_XML fake-input.xml PATHS /usr/share/plasma-wayland-protocols NO_DEFAULT_PATH)
find_program(PMR_WAYLAND_SCANNER wayland-scanner)
if(PMR_FAKE_INPUT_XML AND PMR_WAYLAND_SCANNER)
  set(PMR_FAKE_INPUT_DIR ${CMAKE_BINARY_DIR}/generated/fake-input)
  file(MAKE_DIRECTORY ${PMR_FAKE_INPUT_DIR})
  add_custom_command(
    OUTPUT ${PMR_FAKE_INPUT_DIR}/fake-input-client.h ${PMR_FAKE_INPUT_DIR}/fake-input-protocol.c
    COMMAND ${PMR_WAYLAND_SCANNER} client-header ${PMR_FAKE_INPUT_XML} ${PMR_FAKE_INPUT_DIR}/fake-input-client.h
    COMMAND ${PMR_WAYLAND_SCANNER} private-code ${PMR_FAKE_INPUT_XML} ${PMR_FAKE_INPUT_DIR}/fake-input-protocol.c
    DEPENDS ${PMR_FAKE_INPUT_XML}
    VERBATIM)
  add_library(pmr_fakeinput STATIC ${PMR_FAKE_INPUT_DIR}/fake-input-protocol.c)
  target_include_directories(pmr_fakeinput PUBLIC ${PMR_FAKE_INPUT_DIR})
  target_link_libraries(pmr_fakeinput PUBLIC PkgConfig::WAYLAND)
  target_link_libraries(pmr_testsupport PUBLIC pmr_fakeinput)
  target_compile_definitions(pmr_testsupport PUBLIC PMR_HAVE_FAKE_INPUT=1)
endif()

add_executable(pmr_test_window ${CMAKE_CURRENT_LIST_DIR}/tools/test_window.cpp)
target_link_libraries(pmr_test_window PRIVATE PkgConfig::GTK3)
target_compile_definitions(pmr_testsupport PUBLIC PMR_TEST_WINDOW="$<TARGET_FILE:pmr_test_window>")
add_dependencies(pmr_testsupport pmr_test_window)
