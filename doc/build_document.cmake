# Builds one document from its source in the repository:
#
#   cmake -DSOURCE=in -DOUTPUT=out -DFORMAT=man|crlf -DVERSION=x.y
#         [-DRENDERER=program -DRENDERER_ARGS=a,b,...] -P build_document.cmake
#
# The source line @TROUBLESHOOTING@ is replaced by what RENDERER prints when run with
# RENDERER_ARGS (the guide's troubleshooting table, rendered for this document), or by
# troubleshooting-without-guide.scd when there is no renderer; @PROJECT_VERSION@ by VERSION.
# FORMAT man runs the result through scdoc into OUTPUT and compresses it as Debian asks into OUTPUT.gz (gzip -9n: no name or time
# stamp inside); the assembled source is kept as OUTPUT.scd. FORMAT crlf writes it as text with
# CR LF line ends, for Windows.

file(READ ${SOURCE} text)
if(text MATCHES "\n@TROUBLESHOOTING@\n")
  if(RENDERER)
    string(REPLACE "," ";" arguments "${RENDERER_ARGS}")
    execute_process(COMMAND ${RENDERER} ${arguments} OUTPUT_VARIABLE part RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "build_document: ${RENDERER} ${arguments} failed: ${status}")
    endif()
  else()
    file(READ ${CMAKE_CURRENT_LIST_DIR}/troubleshooting-without-guide.scd part)
  endif()
  string(REGEX REPLACE "\n+$" "" part "${part}")
  string(REPLACE "\n@TROUBLESHOOTING@\n" "\n${part}\n" text "${text}")
endif()
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" text "${text}")

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
