# Run by `cmake --install` (not by a package build, which installs into a
# staging folder named by DESTDIR): makes the desktop know the program types
# and the entry that opens them, as the packages of the system do through
# dpkg's triggers. Needs SKARVEL_DATADIR, the data folder relative to the
# prefix. A missing tool only leaves the caches as they were.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
    return()
endif()
set(data "${CMAKE_INSTALL_PREFIX}/${SKARVEL_DATADIR}")

function(skarvel_update_cache tool folder)
    find_program(SKARVEL_${tool} ${tool} NO_CACHE)
    if(NOT SKARVEL_${tool})
        message(STATUS "${tool} not found: ${folder} is not updated")
        return()
    endif()
    execute_process(COMMAND ${SKARVEL_${tool}} ${ARGN} ${folder} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(rc EQUAL 0)
        message(STATUS "Updated: ${folder}")
    else()
        message(WARNING "${tool} ${folder} failed (${rc}):\n${out}")
    endif()
endfunction()

skarvel_update_cache(update-mime-database "${data}/mime")
skarvel_update_cache(update-desktop-database "${data}/applications" -q)
