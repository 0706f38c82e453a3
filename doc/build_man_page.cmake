# Builds one manual page from its scdoc source: cmake -DSOURCE=x.1.scd -DOUTPUT=x.1
# [-DFRAGMENTS=NAME=FILE;...] -P build_man_page.cmake
#
# A source line that holds only @NAME@ is replaced by the file given for NAME (a part written
# by another program at build time). Writes OUTPUT.scd (the assembled source), OUTPUT, and
# OUTPUT.gz compressed as Debian asks (gzip -9n: no name or time stamp inside).

file(READ ${SOURCE} text)
foreach(fragment IN LISTS FRAGMENTS)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" matched "${fragment}")
  if(NOT matched)
    message(FATAL_ERROR "build_man_page: bad fragment ${fragment}")
  endif()
  set(name ${CMAKE_MATCH_1})
  file(READ ${CMAKE_MATCH_2} part)
  string(FIND "${text}" "\n@${name}@\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "build_man_page: ${SOURCE} has no line @${name}@")
  endif()
  string(REPLACE "\n@${name}@\n" "\n${part}\n" text "${text}")
endforeach()
if(text MATCHES "\n@[A-Z_]+@\n")
  message(FATAL_ERROR "build_man_page: ${SOURCE} has a part nobody wrote: ${CMAKE_MATCH_0}")
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
