# cmake -DPACKAGE=org.skarvel.Skarvel.xml -DSYSTEM=/usr/share/mime/packages/freedesktop.org.xml
#       -DOUT=scratch -P check_mime_package.cmake
# Validates the program types' shared-mime-info package. Debian ships no
# RELAX NG or XSD schema of the format; the grammar it does ship is the DTD
# at the head of freedesktop.org.xml (shared-mime-info), which xmllint
# checks the file against. update-mime-database then builds a database
# from the file in a scratch folder: it reads the file as the system will.
file(READ ${SYSTEM} system LIMIT 20000)
string(FIND "${system}" "<!DOCTYPE mime-info [" open)
string(FIND "${system}" "]>" close)
if(open LESS 0 OR close LESS open)
    message(FATAL_ERROR "${SYSTEM} holds no DTD")
endif()
math(EXPR from "${open} + 21")
math(EXPR length "${close} - ${from}")
string(SUBSTRING "${system}" ${from} ${length} dtd)
file(REMOVE_RECURSE ${OUT})
file(WRITE ${OUT}/mime-info.dtd "${dtd}")
execute_process(COMMAND xmllint --noout --dtdvalid ${OUT}/mime-info.dtd ${PACKAGE}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "xmllint: ${PACKAGE} does not follow the DTD (${rc}):\n${out}")
endif()

file(COPY ${PACKAGE} DESTINATION ${OUT}/mime/packages)
execute_process(COMMAND update-mime-database ${OUT}/mime RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR err MATCHES "[Ee]rror|[Ww]arning|[Uu]nknown")
    message(FATAL_ERROR "update-mime-database (${rc}):\n${err}")
endif()
foreach(type tnc iso lst)
    if(NOT EXISTS ${OUT}/mime/text/x-cnc-program-${type}.xml)
        message(FATAL_ERROR "update-mime-database made no text/x-cnc-program-${type}")
    endif()
endforeach()
file(REMOVE_RECURSE ${OUT})
