# Writes the README.txt of the Windows package: the short introduction of
# doc/README-windows.txt, then the manual page rendered as plain ASCII text,
# every line ended by CR LF so that Notepad shows it as it should.
#   cmake -DGROFF=... -DINTRO=... -DPAGE=... -DOUT=... -P windows_readme.cmake
execute_process(
  COMMAND ${GROFF} -man -Tascii -P-cbou -rLL=76n -rcR=1 -rHY=0 ${PAGE}
  OUTPUT_VARIABLE manual RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
# The page's own blank margins at the top and bottom go.
string(REGEX REPLACE "^\n+" "" manual "${manual}")
string(REGEX REPLACE "\n\n\n+" "\n\n" manual "${manual}")
string(REGEX REPLACE "\n+$" "\n" manual "${manual}")
file(READ ${INTRO} intro)
string(REPLACE "\n" "\r\n" text "${intro}${manual}")
file(WRITE ${OUT} "${text}")
