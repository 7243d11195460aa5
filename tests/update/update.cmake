# Self-update tests that need the network: each runs in a private network and
# mount namespace (unshare, as root) where the product's host names lead to
# local HTTPS servers with a certificate authority made for the run.
add_executable(update_net_test ${CMAKE_CURRENT_LIST_DIR}/update_net_test.cpp)
target_link_libraries(update_net_test PRIVATE pmr_testsupport GTest::gtest_main)
add_test(NAME update_net_test
  COMMAND unshare -m -n ${CMAKE_CURRENT_LIST_DIR}/private-net.sh $<TARGET_FILE:update_net_test>)
set_tests_properties(update_net_test PROPERTIES LABELS unit TIMEOUT 300)

# Test programs and benchmarks accept manifests signed with the TEST-ONLY key.
add_library(pmr_testkey OBJECT ${CMAKE_CURRENT_LIST_DIR}/test_release_key.cpp)
target_include_directories(pmr_testkey PRIVATE ${CMAKE_SOURCE_DIR})
target_sources(pmr_testsupport INTERFACE $<TARGET_OBJECTS:pmr_testkey>)

# The program with the TEST-ONLY update key, for the end-to-end update tests.
add_executable(pellomar-testkey ${CMAKE_SOURCE_DIR}/app/main.cpp ${CMAKE_CURRENT_LIST_DIR}/test_release_key.cpp)
target_link_libraries(pellomar-testkey PRIVATE pmr_core)
add_dependencies(pellomar-testkey resources)

# make package: the .deb and .rpm hold what they should, their metadata
# validates, and the .deb installs through update-install into a private root.
add_test(NAME package_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(package_test PROPERTIES LABELS unit TIMEOUT 300)

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
