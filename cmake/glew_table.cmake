# Writes the per-context GLEW function table: one member for every function
# pointer GLEW declares, in the order glew.h declares them.
#   cmake -DGLEW_HEADER=<glew.h> -DOUTPUT=<header> -P glew_table.cmake
file(STRINGS "${GLEW_HEADER}" declarations REGEX "^GLEW_FUN_EXPORT PFN[A-Za-z0-9_]+ __glew[A-Za-z0-9_]+;")
list(LENGTH declarations count)
if(count LESS 1000)
  message(FATAL_ERROR "${GLEW_HEADER}: only ${count} GLEW function declarations found")
endif()
set(text "/* Generated from ${GLEW_HEADER} by cmake/glew_table.cmake. */\n")
string(APPEND text "#pragma once\nstruct GLEWContextStruct {\n")
foreach(line IN LISTS declarations)
  string(REGEX REPLACE "^GLEW_FUN_EXPORT " "    " member "${line}")
  string(APPEND text "${member}\n")
endforeach()
string(APPEND text "};\n#define GLEW_CONTEXT_FUNCTION_COUNT ${count}\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
