# Fuzz target of the macro file reader (fuzz/macro_file.cpp): a libFuzzer
# target under clang; otherwise a driver whose run without arguments is a
# short deterministic smoke test in the unit suite.
add_executable(fuzz_macro_file ${CMAKE_CURRENT_LIST_DIR}/macro_file.cpp)
target_link_libraries(fuzz_macro_file PRIVATE pmr_core)
target_sources(fuzz_macro_file PRIVATE $<TARGET_OBJECTS:pmr_testkey>)
set_target_properties(fuzz_macro_file PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND PMR_LIBFUZZER)
  target_compile_definitions(fuzz_macro_file PRIVATE PMR_LIBFUZZER)
  target_compile_options(fuzz_macro_file PRIVATE -fsanitize=fuzzer,address)
  target_link_options(fuzz_macro_file PRIVATE -fsanitize=fuzzer,address)
else()
  add_test(NAME fuzz_macro_file_smoke COMMAND fuzz_macro_file)
  set_tests_properties(fuzz_macro_file_smoke PROPERTIES LABELS unit TIMEOUT 300)
endif()
