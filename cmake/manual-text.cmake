# Writes the manual page PAGE to TEXT as plain text, as groff (GROFF) renders
# it for a terminal without fonts, with CR LF line ends for Windows' editors.
#
#   cmake -DGROFF=... -DPAGE=... -DTEXT=... -P manual-text.cmake
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE} OUTPUT_VARIABLE text
                COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
