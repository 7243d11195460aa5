# Update signing keys are kept as PEM public keys, one file per key, in a
# directory (data/release-keys for the program, tests/fixtures/update/test-keys
# for test builds). pmr_release_key_source writes a source that embeds every
# *.pem of the directory as kReleaseKeyPems; configuring again picks up added
# or removed keys. A private key in the directory stops the build.
#   pmr_release_key_source(<output .cpp> <key directory>)
#
# PMR_ROOT_SOURCES are the sources the root helpers are built from, shared
# with the program (the library pmr_rootside): manifest rules, signature and
# hash checks, capped reads, system program lookup and the input setup's
# fixed steps. tests/update/keyset builds update-install from them with a key
# directory of its own.
get_filename_component(pmr_root_src ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(PMR_ROOT_SOURCES
  ${pmr_root_src}/update/update_core.cpp
  ${pmr_root_src}/platform/linux/update/crypto.cpp
  ${pmr_root_src}/platform/linux/input/setup_steps.cpp
  ${pmr_root_src}/platform/linux/system_tools.cpp
  ${pmr_root_src}/base/read_file.cpp
  ${pmr_root_src}/base/atomic_file.cpp)
set(PMR_UPDATE_INSTALL_MAIN ${pmr_root_src}/platform/linux/update/update_install_main.cpp)
function(pmr_release_key_source out dir)
  file(GLOB pems CONFIGURE_DEPENDS ${dir}/*.pem)
  list(SORT pems)
  if(NOT pems)
    message(FATAL_ERROR "no update signing key (*.pem) in ${dir}")
  endif()
  set(body "")
  set(count 0)
  foreach(pem ${pems})
    file(READ ${pem} text)
    if(text MATCHES "PRIVATE")
      message(FATAL_ERROR "${pem} holds a private key: only public keys belong in ${dir}")
    endif()
    if(NOT text MATCHES "-----BEGIN PUBLIC KEY-----")
      message(FATAL_ERROR "${pem} is not a PEM public key")
    endif()
    get_filename_component(name ${pem} NAME)
    string(REPLACE "\n" "\\n\"\n    \"" lines "${text}")
    string(APPEND body "    // ${name}\n    \"${lines}\",\n")
    math(EXPR count "${count} + 1")
  endforeach()
  set(content "// Generated from ${dir} by update/release_keys.cmake: do not edit.\n")
  string(APPEND content "#include \"platform/os_update.h\"\n\n")
  string(APPEND content "const char* const kReleaseKeyPems[] = {\n${body}};\n")
  string(APPEND content "const size_t kReleaseKeyCount = ${count};\n")
  # Written only when it changed, so a configure run rebuilds nothing.
  file(CONFIGURE OUTPUT ${out} CONTENT "${content}" @ONLY)
endfunction()
