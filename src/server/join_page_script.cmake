# Joins the page script's files (PARTS_DIR/*.js, in file-name order) into OUTPUT, byte for
# byte. Run by assets.cmake at build time: cmake -D PARTS_DIR=... -D OUTPUT=... -P this file.
# The result is written beside OUTPUT and renamed over it, so a failed join leaves no half
# file for the embedding to pick up.

file(GLOB parts ${PARTS_DIR}/*.js)
list(SORT parts)
if(NOT parts)
  message(FATAL_ERROR "No page script files in ${PARTS_DIR}")
endif()
set(joined "${OUTPUT}.partial")
file(WRITE ${joined} "")
foreach(part IN LISTS parts)
  file(READ ${part} content)
  file(APPEND ${joined} "${content}")
endforeach()
file(RENAME ${joined} ${OUTPUT})
