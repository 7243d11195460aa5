# Tests against a real GNOME Shell: each program runs inside its own private
# headless GNOME session (tests/support/with-gnome.sh), one session per
# program; the sessions never run two at a time.
set(PMR_WITH_GNOME ${CMAKE_SOURCE_DIR}/tests/support/with-gnome.sh)
file(GLOB PMR_GNOME_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/gnome/*_test.cpp)
# A plain GTK program that calls the shell helper as if it were Pellomar.
add_executable(pmr_gnome_foreign_caller ${CMAKE_CURRENT_LIST_DIR}/gnome/foreign_caller.cpp)
target_link_libraries(pmr_gnome_foreign_caller PRIVATE PkgConfig::GTK3)
foreach(t ${PMR_GNOME_TESTS})
  get_filename_component(name ${t} NAME_WE)
  add_executable(${name} ${t})
  target_link_libraries(${name} PRIVATE pmr_testsupport GTest::gtest_main)
  add_dependencies(${name} pellomar pmr_gnome_foreign_caller)
  target_compile_definitions(${name} PRIVATE PMR_FOREIGN_CALLER="$<TARGET_FILE:pmr_gnome_foreign_caller>")
  set(args)
  if(name MATCHES "portal")
    set(args --portal)
  endif()
  add_test(NAME ${name} COMMAND ${PMR_WITH_GNOME} ${args} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES LABELS gnome TIMEOUT 600 RESOURCE_LOCK gnome_session
    SKIP_RETURN_CODE 77)
endforeach()
# The portal dialog is answered through its accessibility interface.
pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2)
target_link_libraries(pmr_testsupport PUBLIC PkgConfig::ATSPI)
# The real program's boot page on GNOME Wayland, through WebKitWebDriver.
add_test(NAME webdriver_gnome_boot_page
  COMMAND ${CMAKE_COMMAND} -E env
    PMR_BINARY_DIR=${CMAKE_BINARY_DIR}
    PMR_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    PMR_SIM_PRELOAD=${PMR_SIM_PRELOAD_LIST}
    PYTHONDONTWRITEBYTECODE=1
    ${PMR_WITH_GNOME} /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/gnome/boot_page_webdriver.py)
set_tests_properties(webdriver_gnome_boot_page PROPERTIES LABELS gnome TIMEOUT 600
  RESOURCE_LOCK gnome_session SKIP_RETURN_CODE 77)
