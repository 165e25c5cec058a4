# zvt-sim as a separate process (tests/sim_process.h): the launcher the tests
# and the benchmark share. On Linux the simulator is a child serving a pty;
# the Windows tests ask a broker outside wine to start it.
add_library(skarvel_simprocess STATIC ${CMAKE_CURRENT_LIST_DIR}/sim_process.cpp)
if(WIN32)
    target_sources(skarvel_simprocess PRIVATE ${CMAKE_CURRENT_LIST_DIR}/sim_process_win.cpp)
    target_link_libraries(skarvel_simprocess PUBLIC ws2_32)
else()
    target_sources(skarvel_simprocess PRIVATE ${CMAKE_CURRENT_LIST_DIR}/sim_process_linux.cpp)
    target_compile_definitions(skarvel_simprocess PRIVATE ZVT_SIM_PATH="$<TARGET_FILE:zvt-sim>")
    add_dependencies(skarvel_simprocess zvt-sim)
endif()
target_include_directories(skarvel_simprocess PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(skarvel_simprocess PUBLIC skarvel_options)
