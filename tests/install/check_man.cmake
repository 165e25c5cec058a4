# cmake -DPAGE=page.1 [-DPROGRAM=path] -P check_man.cmake
# The page renders without a warning, has the usual sections, and names
# every option that PROGRAM --help names.
execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 man --warnings -E UTF-8 -l ${PAGE}
                RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "man -l ${PAGE}: exit ${rc}\n${warnings}")
endif()
foreach(section NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES FILES)
    if(NOT text MATCHES "(^|\n)${section}\n")
        message(FATAL_ERROR "${PAGE} has no section ${section}")
    endif()
endforeach()

if(PROGRAM)
    execute_process(COMMAND ${PROGRAM} --help RESULT_VARIABLE rc OUTPUT_VARIABLE help)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} --help: exit ${rc}")
    endif()
    # The page's source with roff's minus signs and font changes undone.
    file(READ ${PAGE} source)
    string(REPLACE "\\-" "-" source "${source}")
    string(REGEX REPLACE "\\\\f[BIRP]" "" source "${source}")
    # An option stands after a blank, "[" or ","; brackets would also upset
    # CMake's lists, so they become blanks first.
    string(REGEX REPLACE "[[,\n]" " " help "${help}")
    string(REGEX MATCHALL " --?[A-Za-z][A-Za-z0-9-]*" options "${help}")
    list(REMOVE_DUPLICATES options)
    foreach(option IN LISTS options)
        string(SUBSTRING "${option}" 1 -1 option)
        if(NOT source MATCHES "(^|[^A-Za-z0-9-])${option}([^A-Za-z0-9-]|$)")
            message(FATAL_ERROR "${PAGE} does not mention ${option}, which --help names")
        endif()
    endforeach()
endif()
