# Formats a manual page as plain text with Windows line ends:
#   cmake -DGROFF=groff -DPAGE=doc/vexmo.1 -DTEXT=vexmo.txt -P cmake/man-to-text.cmake
# grotty -c -b -o -u: no escape sequences and no overstriking, only letters.
execute_process(COMMAND "${GROFF}" -man -Tascii -P-cbou "${PAGE}"
                OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR errors)
  message(FATAL_ERROR "groff ${PAGE}: ${status} ${errors}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TEXT}" "${text}")
