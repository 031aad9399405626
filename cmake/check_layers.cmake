# Fails when a source folder includes a header of a layer above its own, or
# when one check includes another.  Run by ctest as the entry "layers":
#   cmake -DSRC=<source>/src -P check_layers.cmake
# The layers, bottom first; folders on one line are peers that never meet.
set(layers
  "platform"
  "base"
  "report"
  "fileops"
  "sync"
  "paired"
  "single mutual userapl"
  "driver")

set(rank 0)
foreach(line IN LISTS layers)
  string(REPLACE " " ";" folders "${line}")
  foreach(folder IN LISTS folders)
    set(rank_${folder} ${rank})
  endforeach()
  math(EXPR rank "${rank} + 1")
endforeach()

get_filename_component(SRC "${SRC}" ABSOLUTE)
set(faults "")
file(GLOB_RECURSE sources RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" own "${source}")
  if(NOT DEFINED rank_${own})
    string(APPEND faults "  ${source}: the folder ${own} has no layer\n")
    continue()
  endif()
  file(STRINGS ${SRC}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^/\"]+/")
  foreach(include IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^/\"]+)/.*" "\\1" used "${include}")
    if(used STREQUAL own)
      continue()
    endif()
    if(NOT DEFINED rank_${used} OR NOT rank_${used} LESS rank_${own})
      string(APPEND faults "  ${source}: ${include}\n")
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN layers " < " order)
  message(FATAL_ERROR "includes against the layers (${order}):\n${faults}")
endif()
list(LENGTH sources count)
message(STATUS "${count} files, every include points down")
