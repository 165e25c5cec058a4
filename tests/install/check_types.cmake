# cmake -DBUILD_DIR=... -DPREFIX=... -DPACKAGE=org.skarvel.Skarvel.xml -DQT_PROBE=skarvel-mime-type
#       -P check_types.cmake
# Asks the desktop's two type databases (GLib's, through gio, and Qt's) about
# program files and a disc image named *.iso, with no user's data:
#   - the system's layout, as the Debian package makes it: the package file
#     beside freedesktop.org.xml in one database. The three program types
#     are known, and *.iso is a program where the file is text and a disc
#     image where it is one;
#   - an installation into PREFIX, a scratch folder, with a database of its
#     own ahead of the system's: *.tnc and *.lst are known and Skarvel opens
#     them, and every *.iso is still a disc image.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()

set(files ${PREFIX}/files)
file(MAKE_DIRECTORY ${files} ${PREFIX}/home)
file(WRITE ${files}/VAL-01.TNC "BEGIN PGM VAL-01 MM\nL X+0 Y+0 FMAX\nEND PGM VAL-01 MM\n")
file(WRITE ${files}/plita.lst "N10 G0 X0 Y0\n")
file(WRITE ${files}/O1000.ISO "%\nO1000\nG0 X0 Y0\nM30\n%\n")
file(WRITE ${files}/o1001.iso "%\r\nO1001\r\nM30\r\n%\r\n")
file(WRITE ${files}/O1002.iso "O1002\nG1 X10 F100\nM30\n")
# A disc image: 32 KiB of zeros, then an ISO 9660 volume descriptor.
execute_process(COMMAND sh -c "head -c 32768 /dev/zero && printf '\\001CD001\\001'"
                OUTPUT_FILE ${files}/disc.iso RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot make the disc image")
endif()
set(programs
    VAL-01.TNC text/x-cnc-program-tnc
    plita.lst text/x-cnc-program-lst)
set(isoFiles O1000.ISO o1001.iso O1002.iso)

set(problems)
# Checks each NAME TYPE pair of the list with XDG_DATA_DIRS=dirs.
function(check_types dirs)
    set(env ${CMAKE_COMMAND} -E env XDG_DATA_HOME=${PREFIX}/home XDG_CONFIG_HOME=${PREFIX}/home
            XDG_DATA_DIRS=${dirs} "PATH=${PREFIX}/bin:$ENV{PATH}")
    set(cases ${ARGN})
    while(cases)
        list(POP_FRONT cases name expected)
        execute_process(COMMAND ${env} gio info -a standard::content-type ${files}/${name}
                        OUTPUT_VARIABLE gio ERROR_VARIABLE err)
        string(REGEX MATCH "content-type: ([^\n]*)" _ "${gio}")
        if(NOT CMAKE_MATCH_1 STREQUAL expected)
            list(APPEND problems "${dirs}: gio: ${name} is '${CMAKE_MATCH_1}', not ${expected} ${err}")
        endif()
        execute_process(COMMAND ${env} ${QT_PROBE} ${files}/${name} OUTPUT_VARIABLE qt OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT qt STREQUAL expected)
            list(APPEND problems "${dirs}: Qt: ${name} is '${qt}', not ${expected}")
        endif()
    endwhile()
    set(problems ${problems} PARENT_SCOPE)
endfunction()

# The system's layout.
file(COPY /usr/share/mime/packages/freedesktop.org.xml ${PACKAGE} DESTINATION ${PREFIX}/system/mime/packages)
execute_process(COMMAND update-mime-database ${PREFIX}/system/mime OUTPUT_QUIET ERROR_QUIET)
set(cases ${programs} disc.iso application/x-cd-image)
foreach(name IN LISTS isoFiles)
    list(APPEND cases ${name} text/x-cnc-program-iso)
endforeach()
check_types(${PREFIX}/system ${cases})

# An installation of its own.
set(cases ${programs} disc.iso application/x-cd-image)
foreach(name IN LISTS isoFiles)
    list(APPEND cases ${name} application/x-cd-image)
endforeach()
check_types(${PREFIX}/share:/usr/share ${cases})

set(env ${CMAKE_COMMAND} -E env XDG_DATA_HOME=${PREFIX}/home XDG_CONFIG_HOME=${PREFIX}/home
        XDG_DATA_DIRS=${PREFIX}/share:/usr/share "PATH=${PREFIX}/bin:$ENV{PATH}")
foreach(type tnc iso lst)
    execute_process(COMMAND ${env} gio mime text/x-cnc-program-${type} OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT out MATCHES "Default application for [^\n]*: org.skarvel.Skarvel.desktop")
        list(APPEND problems "gio mime text/x-cnc-program-${type}:\n${out}${err}")
    endif()
endforeach()

file(REMOVE_RECURSE ${PREFIX})
if(problems)
    string(REPLACE ";" "\n" problems "${problems}")
    message(FATAL_ERROR "${problems}")
endif()
