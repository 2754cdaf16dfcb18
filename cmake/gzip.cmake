# Compresses one file as Debian wants its manual pages and changelogs:
# gzip -9n, the best compression and no name or time stamp inside, so that the
# same file always compresses to the same bytes.
# Usage: cmake -DGZIP=gzip -DINPUT=file -DOUTPUT=file.gz -P gzip.cmake
execute_process(COMMAND ${GZIP} -9n -c ${INPUT} OUTPUT_FILE ${OUTPUT}.part RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.part)
  message(FATAL_ERROR "${GZIP} -9n ${INPUT} failed: ${status}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
