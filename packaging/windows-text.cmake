# Writes the text FROM to TO with Windows line ends; a manual page (FROM ending in .1) is
# rendered as plain text first, by GROFF:
#   cmake -DFROM=docs/wad3.1 -DTO=wad3.txt -DGROFF=/usr/bin/groff -P windows-text.cmake
if(FROM MATCHES "\\.1$")
  execute_process(COMMAND ${GROFF} -man -Tascii -P-cbu ${FROM} OUTPUT_VARIABLE text
                  COMMAND_ERROR_IS_FATAL ANY)
else()
  file(READ ${FROM} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TO} "${text}")
