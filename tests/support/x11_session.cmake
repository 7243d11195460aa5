# The X11 test session sets monitor layouts through RandR.
pkg_check_modules(PMR_XRANDR REQUIRED IMPORTED_TARGET xrandr)
target_link_libraries(pmr_testsupport PUBLIC PkgConfig::PMR_XRANDR)
