# Self-update tests that need the network: each runs in a private network and
# mount namespace (unshare, as root) where the product's host names lead to
# local HTTPS servers with a certificate authority made for the run.
add_executable(update_net_test ${CMAKE_CURRENT_LIST_DIR}/update_net_test.cpp)
target_link_libraries(update_net_test PRIVATE pmr_testsupport GTest::gtest_main)
add_test(NAME update_net_test
  COMMAND unshare -m -n ${CMAKE_CURRENT_LIST_DIR}/private-net.sh $<TARGET_FILE:update_net_test>)
set_tests_properties(update_net_test PROPERTIES LABELS unit TIMEOUT 300)

# Test programs and benchmarks accept manifests signed with the TEST-ONLY key
# (tests/fixtures/update/test-keys), embedded the way the release keys are.
pmr_release_key_source(${CMAKE_BINARY_DIR}/gen/test_release_keys.cpp ${CMAKE_SOURCE_DIR}/tests/fixtures/update/test-keys)
add_library(pmr_testkey OBJECT ${CMAKE_BINARY_DIR}/gen/test_release_keys.cpp)
target_include_directories(pmr_testkey PRIVATE ${CMAKE_SOURCE_DIR})
target_sources(pmr_testsupport INTERFACE $<TARGET_OBJECTS:pmr_testkey>)

# The program and its update helper with the TEST-ONLY update key, for the
# end-to-end update tests.
add_executable(pellomar-testkey ${CMAKE_SOURCE_DIR}/app/main.cpp $<TARGET_OBJECTS:pmr_testkey>)
target_link_libraries(pellomar-testkey PRIVATE pmr_core)
add_dependencies(pellomar-testkey resources)
add_executable(update-install-testkey ${CMAKE_SOURCE_DIR}/platform/linux/update/update_install_main.cpp
  $<TARGET_OBJECTS:pmr_testkey>)
target_link_libraries(update-install-testkey PRIVATE pmr_rootside)

# The root helpers as root in a private mount namespace, with stand-ins for
# the package tools and udevadm and a private /etc: unsigned, foreign,
# changed and older packages are refused whichever way the helper is called.
add_test(NAME root_helpers_test
  COMMAND unshare -m ${CMAKE_CURRENT_LIST_DIR}/root_helpers_test.sh ${CMAKE_SOURCE_DIR}
    $<TARGET_FILE:update-install> $<TARGET_FILE:update-install-testkey> $<TARGET_FILE:setup-input>)
set_tests_properties(root_helpers_test PROPERTIES LABELS unit TIMEOUT 300)

# make package: the .deb and .rpm hold what they should, their metadata and
# polkit actions validate, and the .deb installs through update-install into a
# private root (in a private mount namespace, with stand-in package tools).
add_test(NAME package_test
  COMMAND unshare -m ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(package_test PROPERTIES LABELS unit TIMEOUT 300)

# make package: lintian and rpmlint find no error in the .deb and the .rpm,
# whose library dependencies are computed and which ship the manual page.
add_test(NAME package_lint_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/package_lint_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(package_lint_test PROPERTIES LABELS package TIMEOUT 600)

# The real program updating itself through its page (WebKitWebDriver), under
# Xvfb and the input simulation, in the private network.
add_test(NAME update_e2e
  COMMAND ${CMAKE_COMMAND} -E env
    PMR_BINARY_DIR=${CMAKE_BINARY_DIR}
    PMR_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    PMR_SIM_PRELOAD=${PMR_SIM_PRELOAD_LIST}
    PYTHONDONTWRITEBYTECODE=1
    unshare -m -n ${CMAKE_CURRENT_LIST_DIR}/private-net.sh
    ${CMAKE_SOURCE_DIR}/tests/e2e/with-xvfb.sh /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/test_update_e2e.py)
set_tests_properties(update_e2e PROPERTIES LABELS xvfb TIMEOUT 600)

# scripts/release-key and scripts/release-sign round trip: a new key, a helper
# built with it, a manifest signed for it.
add_test(NAME release_keys_test
  COMMAND unshare -m ${CMAKE_CURRENT_LIST_DIR}/release_keys_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_CXX_COMPILER})
set_tests_properties(release_keys_test PROPERTIES LABELS unit TIMEOUT 600)
