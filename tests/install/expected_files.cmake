# The files an installation holds, relative to its prefix: the programs and
# their manual pages, and with the window (gui true) its own program, page,
# desktop entry, icons and the program types.
function(skarvel_expected_files gui out)
    set(files
        bin/zvt
        bin/zvt-sim
        share/man/man1/zvt.1.gz
        share/man/man1/zvt-sim.1.gz)
    if(gui)
        list(APPEND files
            bin/skarvel
            share/applications/org.skarvel.Skarvel.desktop
            share/icons/hicolor/48x48/apps/skarvel.png
            share/icons/hicolor/scalable/apps/skarvel.svg
            share/man/man1/skarvel.1.gz
            share/mime/packages/org.skarvel.Skarvel.xml)
    endif()
    list(SORT files)
    set(${out} ${files} PARENT_SCOPE)
endfunction()

# Fails unless the installed tree under root holds exactly the expected
# files, its programs answer --help and its icon is 48 by 48 pixels. caches
# true (`cmake --install`): with the window, the desktop's caches of types
# and of the applications that open them are there too, updated for the
# program types; false (the package): no cache is there, the system's
# triggers make them.
function(skarvel_check_tree root gui caches)
    skarvel_expected_files(${gui} expected)
    file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
    list(SORT found)
    if(caches AND gui)
        set(made ${found})
        list(FILTER made INCLUDE REGEX "^share/mime/[^p]|^share/mime/p[^a]|^share/applications/mimeinfo.cache$")
        list(REMOVE_ITEM found ${made})
        foreach(f share/mime/mime.cache share/mime/text/x-cnc-program-tnc.xml share/mime/text/x-cnc-program-iso.xml
                  share/mime/text/x-cnc-program-lst.xml share/applications/mimeinfo.cache)
            list(FIND made ${f} at)
            if(at LESS 0)
                message(FATAL_ERROR "the install did not update the desktop's caches: no ${f}")
            endif()
        endforeach()
    endif()
    if(NOT found STREQUAL expected)
        string(REPLACE ";" "\n  " e "${expected}")
        string(REPLACE ";" "\n  " f "${found}")
        message(FATAL_ERROR "installed files differ\nexpected:\n  ${e}\nfound:\n  ${f}")
    endif()
    foreach(program zvt zvt-sim)
        execute_process(COMMAND ${root}/bin/${program} --help RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "installed ${program} --help: exit ${rc}\n${err}")
        endif()
    endforeach()
    if(gui)
        # The PNG header's width and height, 32 bits each, big-endian.
        file(READ ${root}/share/icons/hicolor/48x48/apps/skarvel.png size OFFSET 16 LIMIT 8 HEX)
        if(NOT size STREQUAL "0000003000000030")
            message(FATAL_ERROR "the 48 px icon has the size ${size} (hex width and height)")
        endif()
    endif()
endfunction()
