# cmake -DBUILD_DIR=... -DOUT=... -DCPACK=cpack -DGUI=ON|OFF -P check_package.cmake
# Builds the Debian package into OUT, a scratch folder, and checks its
# fields and files without installing it: its tree is unpacked into OUT.
include(${CMAKE_CURRENT_LIST_DIR}/expected_files.cmake)

file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB debs ${OUT}/*.deb)
list(LENGTH debs count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
    message(FATAL_ERROR "cpack failed (${rc}) or made ${count} packages:\n${out}")
endif()

function(field name out)
    execute_process(COMMAND dpkg-deb --field ${debs} ${name} OUTPUT_VARIABLE v OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(${out} "${v}" PARENT_SCOPE)
endfunction()
field(Package package)
field(Maintainer maintainer)
field(Description description)
field(Depends depends)
if(NOT package STREQUAL "skarvel" OR NOT maintainer MATCHES "<.+@.+>" OR NOT description MATCHES "ZVT")
    message(FATAL_ERROR "package fields: '${package}', '${maintainer}', '${description}'")
endif()
# The dependencies come from the libraries the programs link.
set(needed libc6 libstdc\\+\\+6)
if(GUI)
    list(APPEND needed libqt6widgets6 libqt6svg6 libjpeg62-turbo qt6-translations-l10n)
endif()
foreach(d IN LISTS needed)
    if(NOT depends MATCHES "(^|, )${d}( |,|$)")
        message(FATAL_ERROR "Depends lacks ${d}: ${depends}")
    endif()
endforeach()

execute_process(COMMAND dpkg-deb --extract ${debs} ${OUT}/root RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --extract failed (${rc})")
endif()
skarvel_check_tree(${OUT}/root/usr ${GUI} FALSE)
# The triggers of shared-mime-info and desktop-file-utils take care of the
# caches: the package has no maintainer scripts.
execute_process(COMMAND dpkg-deb --ctrl-tarfile ${debs} COMMAND tar -t OUTPUT_VARIABLE control)
if(control MATCHES "(preinst|postinst|prerm|postrm)")
    message(FATAL_ERROR "the package has maintainer scripts:\n${control}")
endif()
file(REMOVE_RECURSE ${OUT})
