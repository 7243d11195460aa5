# Snap message fuzz target. With clang it is a libFuzzer program
# (fuzz/snap_messages); otherwise a driver that runs the target over the
# files named on its command line, so the target always builds.
set(PMR_SNAP_FUZZ_SOURCES ${CMAKE_SOURCE_DIR}/fuzz/snap_messages.cpp ${CMAKE_SOURCE_DIR}/snap/peer_message.cpp
  ${CMAKE_SOURCE_DIR}/base/number_text.cpp ${CMAKE_SOURCE_DIR}/base/strings.cpp)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(fuzz_snap_messages ${PMR_SNAP_FUZZ_SOURCES})
  target_compile_options(fuzz_snap_messages PRIVATE -fsanitize=fuzzer,address)
  target_link_options(fuzz_snap_messages PRIVATE -fsanitize=fuzzer,address)
else()
  add_executable(fuzz_snap_messages ${PMR_SNAP_FUZZ_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/snap_driver.cpp)
endif()
target_include_directories(fuzz_snap_messages PRIVATE ${CMAKE_SOURCE_DIR})
set_target_properties(fuzz_snap_messages PROPERTIES OUTPUT_NAME snap_messages RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
