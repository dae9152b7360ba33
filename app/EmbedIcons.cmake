cmake_minimum_required(VERSION 3.16)
# Writes a C++ source that registers the icon files of app/resources/ as icon resources.
# A file belongs to the id its name holds (101-104), or else to the role its name names:
# "app"/"layerdeck"/"program" 101, "play" 102, "stop" 103, "pause" 104.
# Run as: cmake -DICON_DIR=<dir> -DOUTPUT=<file> -P EmbedIcons.cmake
file(GLOB icon_files ${ICON_DIR}/*.png ${ICON_DIR}/*.svg)
list(SORT icon_files)
set(body "")
set(calls "")
set(taken "")
foreach(file ${icon_files})
  get_filename_component(name ${file} NAME_WE)
  string(TOLOWER ${name} lower)
  set(id "")
  foreach(candidate 101 102 103 104)
    if(lower MATCHES "${candidate}")
      set(id ${candidate})
    endif()
  endforeach()
  if(NOT id)
    if(lower MATCHES "pause")
      set(id 104)
    elseif(lower MATCHES "stop")
      set(id 103)
    elseif(lower MATCHES "play")
      set(id 102)
    elseif(lower MATCHES "app|layerdeck|program")
      set(id 101)
    endif()
  endif()
  if(id AND NOT id IN_LIST taken)
    list(APPEND taken ${id})
    file(READ ${file} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND body "const uint8_t kIcon${id}[] = {${bytes}};\n")
    string(APPEND calls "    registerIconResourceBytes(${id}, std::vector<uint8_t>(std::begin(kIcon${id}), std::end(kIcon${id})));\n")
  endif()
endforeach()
file(WRITE ${OUTPUT}.tmp
"// Generated from app/resources/ by app/EmbedIcons.cmake.
#include <cstdint>
#include <iterator>
#include <vector>

#include \"app/ResourceIcons.h\"
#include \"framework/WindowResources.h\"

namespace {
${body}}  // namespace

void registerEmbeddedIcons() {
${calls}}
")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
