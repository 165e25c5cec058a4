# A manual page as plain text for Windows: formatted by groff without bold,
# underlines or terminal sequences, at 78 columns, with CR LF line ends so
# that every editor shows its lines.
#   cmake -DGROFF=groff -DPAGE=zvt.1 -DOUT=zvt.txt -P man_to_text.cmake
execute_process(
    COMMAND ${GROFF} -man -Tascii -rLL=78n -P-c -P-b -P-o -P-u ${PAGE}
    OUTPUT_VARIABLE text
    ERROR_VARIABLE errors
    RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "groff could not format ${PAGE} (${status}): ${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
