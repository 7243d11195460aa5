# Fuzz target for the KWin window report reader. With clang it is a libFuzzer
# program (fuzz/kwin_windows_fuzz); with other compilers a driver that runs
# given inputs, or a fixed run of mutated reports as a unit test.
add_executable(kwin_windows_fuzz ${CMAKE_CURRENT_LIST_DIR}/kwin_windows.cpp)
target_link_libraries(kwin_windows_fuzz PRIVATE pmr_core)
target_sources(kwin_windows_fuzz PRIVATE $<TARGET_OBJECTS:pmr_testkey>)
set_target_properties(kwin_windows_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  target_compile_definitions(kwin_windows_fuzz PRIVATE PMR_LIBFUZZER=1)
  target_compile_options(kwin_windows_fuzz PRIVATE -fsanitize=fuzzer,address)
  target_link_options(kwin_windows_fuzz PRIVATE -fsanitize=fuzzer,address)
else()
  add_test(NAME kwin_windows_fuzz COMMAND kwin_windows_fuzz)
  set_tests_properties(kwin_windows_fuzz PROPERTIES LABELS unit TIMEOUT 300)
endif()
