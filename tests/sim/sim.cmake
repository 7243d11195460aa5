# The simulated input subsystem (tests/sim/README.md):
#  pmr_simkernel    the simulated kernel and its control socket (no program code)
#  pmr_sim          in-process use (device table for the input layer), the
#                   control client and the program launcher; linked into every test
#  pmr_sim_preload  LD_PRELOAD library running the real program against it
set(PMR_SIM_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(pmr_simkernel STATIC
  ${PMR_SIM_DIR}/sim_kernel.cpp ${PMR_SIM_DIR}/evemu.cpp ${PMR_SIM_DIR}/sim_server.cpp)
target_include_directories(pmr_simkernel PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(pmr_simkernel PUBLIC Threads::Threads)
target_compile_definitions(pmr_simkernel PUBLIC
  PMR_SIM_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures")

add_library(pmr_sim_preload MODULE ${PMR_SIM_DIR}/preload.cpp)
target_link_libraries(pmr_sim_preload PRIVATE pmr_simkernel ${CMAKE_DL_LIBS})
set_target_properties(pmr_sim_preload PROPERTIES PREFIX "lib" OUTPUT_NAME "pmrsim_preload")

add_library(pmr_sim STATIC ${PMR_SIM_DIR}/sim_io.cpp ${PMR_SIM_DIR}/sim_control.cpp
  ${PMR_SIM_DIR}/input_harness.cpp)
target_link_libraries(pmr_sim PUBLIC pmr_simkernel pmr_core)
target_compile_definitions(pmr_sim PUBLIC
  PMR_SIM_PRELOAD="${PMR_SIM_PRELOAD_LIST}"
  PMR_SIM_BINARY_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(pmr_sim pmr_sim_preload)

target_link_libraries(pmr_testsupport PUBLIC pmr_sim)
