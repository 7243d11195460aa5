# The folders' includes point down the floors of scripts/floors.txt
# (docs/architecture.md); the check itself is tested on a small fixture house.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME include_floors
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check-includes.py --root ${CMAKE_SOURCE_DIR})
add_test(NAME include_floors_check
  COMMAND ${CMAKE_COMMAND} -E env PMR_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/unit/check_includes_test.py)
set_tests_properties(include_floors include_floors_check PROPERTIES LABELS unit TIMEOUT 120)
