# cmake -DBUILD_DIR=... -DPREFIX=... -DGUI=ON|OFF -P check_install.cmake
# Installs the build into PREFIX, a scratch folder, and checks the tree.
include(${CMAKE_CURRENT_LIST_DIR}/expected_files.cmake)

file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()
skarvel_check_tree(${PREFIX} ${GUI} TRUE)
file(REMOVE_RECURSE ${PREFIX})
