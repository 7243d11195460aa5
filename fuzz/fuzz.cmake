# fuzz/<name>_fuzz.cpp: one target per parser of outside input.
#   PMR_FUZZ=ON (clang): fuzz/<name>, a libFuzzer program; target `fuzzers`.
#   otherwise: fuzz/<name>_replay, which replays fuzz/corpus/<name> and a
#   fixed series of edited copies of it as the ctest fuzz_<name>.
set(PMR_FUZZ_REPLAY_MUTATIONS 100000 CACHE STRING "Edited corpus inputs each fuzz replay test runs")
file(GLOB PMR_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
if(PMR_FUZZ)
  add_custom_target(fuzzers)
else()
  add_library(pmr_fuzz_replay STATIC ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(pmr_fuzz_replay PUBLIC pmr_core)
  # The program's code needs an update key; fuzz programs get the TEST-ONLY one.
  target_sources(pmr_fuzz_replay INTERFACE $<TARGET_OBJECTS:pmr_testkey>)
endif()
foreach(src ${PMR_FUZZ_TARGETS})
  get_filename_component(stem ${src} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name ${stem})
  if(PMR_FUZZ)
    add_executable(fuzz_${name} ${src})
    target_link_libraries(fuzz_${name} PRIVATE pmr_core)
    target_sources(fuzz_${name} PRIVATE $<TARGET_OBJECTS:pmr_testkey>)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(fuzz_${name} PROPERTIES
      OUTPUT_NAME ${name} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_dependencies(fuzzers fuzz_${name})
  else()
    add_executable(fuzz_${name}_replay ${src})
    target_link_libraries(fuzz_${name}_replay PRIVATE pmr_fuzz_replay)
    set_target_properties(fuzz_${name}_replay PROPERTIES
      OUTPUT_NAME ${name}_replay RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_test(NAME fuzz_${name} COMMAND fuzz_${name}_replay ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name}
      --mutations ${PMR_FUZZ_REPLAY_MUTATIONS} --max-seconds 20)
    set_tests_properties(fuzz_${name} PROPERTIES LABELS unit TIMEOUT 300)
  endif()
endforeach()
