# End-to-end tests of the pages: Debian's python3 with python3-selenium drives
# the real program through WebKitWebDriver, under a private Xvfb and the
# simulated input subsystem (tests/e2e/webdriver/).
file(GLOB PMR_WEBDRIVER_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/webdriver/test_*.py)
foreach(t ${PMR_WEBDRIVER_TESTS})
  get_filename_component(name ${t} NAME_WE)
  add_test(NAME webdriver_${name}
    COMMAND ${CMAKE_COMMAND} -E env
      PMR_BINARY_DIR=${CMAKE_BINARY_DIR}
      PMR_SOURCE_DIR=${CMAKE_SOURCE_DIR}
      PMR_SIM_PRELOAD=${PMR_SIM_PRELOAD_LIST}
      PYTHONDONTWRITEBYTECODE=1
      ${CMAKE_SOURCE_DIR}/tests/e2e/with-xvfb.sh /usr/bin/python3 ${t})
  set_tests_properties(webdriver_${name} PROPERTIES LABELS xvfb TIMEOUT 600)
endforeach()
