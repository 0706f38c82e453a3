# Builds one document from its source in the repository:
#
#   cmake -DSOURCE=in -DOUTPUT=out -DFORMAT=man|crlf [-DFRAGMENTS=NAME=FILE;...] -P build_document.cmake
#
# A source line that holds only @NAME@ is replaced by the file given for NAME (a part written
# by a program at build time); @PROJECT_VERSION@ by VERSION. FORMAT man runs the result through
# scdoc into OUTPUT and compresses it as Debian asks into OUTPUT.gz (gzip -9n: no name or time
# stamp inside); the assembled source is kept as OUTPUT.scd. FORMAT crlf writes it as text with
# CR LF line ends, for Windows.

file(READ ${SOURCE} text)
foreach(fragment IN LISTS FRAGMENTS)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" matched "${fragment}")
  if(NOT matched)
    message(FATAL_ERROR "build_document: bad fragment ${fragment}")
  endif()
  set(name ${CMAKE_MATCH_1})
  file(READ ${CMAKE_MATCH_2} part)
  string(REGEX REPLACE "\n+$" "" part "${part}")
  string(FIND "${text}" "\n@${name}@\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "build_document: ${SOURCE} has no line @${name}@")
  endif()
  string(REPLACE "\n@${name}@\n" "\n${part}\n" text "${text}")
endforeach()
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" text "${text}")
if(text MATCHES "\n@[A-Z_]+@\n")
  message(FATAL_ERROR "build_document: ${SOURCE} has a part nobody wrote: ${CMAKE_MATCH_0}")
endif()

if(FORMAT STREQUAL "crlf")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${OUTPUT} "${text}")
  return()
endif()

file(WRITE ${OUTPUT}.scd "${text}")
execute_process(COMMAND scdoc INPUT_FILE ${OUTPUT}.scd OUTPUT_FILE ${OUTPUT} ERROR_VARIABLE errors
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "scdoc failed on ${SOURCE}:\n${errors}")
endif()
execute_process(COMMAND gzip -9nkf ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${OUTPUT}")
endif()
