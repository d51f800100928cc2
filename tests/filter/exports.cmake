# The plugin module exports its plugin descriptor and nothing else of its own:
# the two functions GST_PLUGIN_DEFINE declares for export (the descriptor
# GStreamer loads, and the register call of static builds).
#   cmake -DNM=nm -DMODULE=libgstquellfx.so -P exports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${NM} -D --defined-only ${MODULE} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} -D --defined-only ${MODULE} failed (${rc}): ${err}")
endif()

set(allowed gst_plugin_quellfx_get_desc gst_plugin_quellfx_register)
# Markers the linker defines in every shared object.
set(linker _init _fini _edata _end __bss_start)
set(extra)
set(found)
string(REPLACE "\n" ";" lines "${out}")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"
  if(NOT line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_2}")
  if(name IN_LIST allowed)
    list(APPEND found "${name}")
  elseif(NOT name IN_LIST linker)
    list(APPEND extra "${CMAKE_MATCH_1} ${name}")
  endif()
endforeach()

if(NOT "gst_plugin_quellfx_get_desc" IN_LIST found)
  message(FATAL_ERROR "${MODULE} does not export gst_plugin_quellfx_get_desc, so GStreamer cannot load it:\n${out}")
endif()
if(extra)
  list(LENGTH extra count)
  list(JOIN extra "\n  " shown)
  message(FATAL_ERROR "${MODULE} exports ${count} symbols besides its plugin descriptor "
                      "(build with hidden visibility, or mark the symbol static):\n  ${shown}")
endif()
message(STATUS "${MODULE} exports only: ${found}")
