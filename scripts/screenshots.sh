#!/usr/bin/env bash
# Makes the README's screenshots (docs/*.png) from the real program on the
# simulated input devices, each under its own private Xvfb: the main page at
# 300, 420, 800 and 1600 px and at its default size (in the look of a desktop
# without a dark preference: light), in the light and the dark look at 800 px,
# and the boot page.
# Usage: scripts/screenshots.sh [build directory, default build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cmake --build "$build" --target pellomar pmr_sim_preload
export PMR_BINARY_DIR=$build PMR_SOURCE_DIR=$root PMR_SIM_PRELOAD=$build/libpmrsim_preload.so
export PMR_SCREENSHOT_DIR=$root/docs PYTHONDONTWRITEBYTECODE=1
shoot() { "$root/tests/e2e/with-xvfb.sh" /usr/bin/python3 "$root/tests/e2e/webdriver/$1" "$2"; }
shoot test_page_layout.py PageLayout.test_a_screenshots_at_each_width
shoot test_main_page.py MainPage.test_zz_screenshot
shoot test_color_scheme.py ColorScheme.test_z_screenshots_in_both_looks
shoot test_boot_page.py BootPage.test_permissions_kind_and_setup_button
ls -l "$root"/docs/*.png
