# The update manifest fuzz target, built as a program that runs deterministic
# mutations of its seeds (or the files it is given) and checks the rules.
add_executable(fuzz_update_manifest ${CMAKE_CURRENT_LIST_DIR}/update_manifest.cpp)
target_compile_definitions(fuzz_update_manifest PRIVATE PMR_FUZZ_STANDALONE_MAIN)
target_link_libraries(fuzz_update_manifest PRIVATE pmr_testsupport)
add_test(NAME update_manifest_fuzz COMMAND fuzz_update_manifest)
set_tests_properties(update_manifest_fuzz PROPERTIES LABELS unit TIMEOUT 300)
