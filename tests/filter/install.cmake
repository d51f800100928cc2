# `cmake --install --prefix P` puts the plugin in P's GStreamer plugin folder,
# the data under P/share/quellfx/data, the program in P/bin with its desktop
# entry and icon, and nothing else; GStreamer loads
# the installed plugin from there, and the plugin finds its installed data
# from its own path.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DGST_PLUGINS_DIR=... -DGST_PREFIX=... -P install.cmake
cmake_minimum_required(VERSION 3.25)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

# With prefix /usr the plugin would land in GStreamer's own plugin folder.
file(RELATIVE_PATH plugin_dir ${GST_PREFIX} ${GST_PLUGINS_DIR})
set(expected "${plugin_dir}/libgstquellfx.so" "bin/capture" "share/applications/quellvisor.desktop"
  "share/icons/hicolor/scalable/apps/quellvisor.svg")
file(GLOB data_files RELATIVE ${BUILD_DIR}/out/data ${BUILD_DIR}/out/data/*)
if(NOT data_files)
  message(FATAL_ERROR "the build's data folder ${BUILD_DIR}/out/data is empty")
endif()
foreach(name IN LISTS data_files)
  list(APPEND expected "share/quellfx/data/${name}")
endforeach()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
list(SORT expected)
list(SORT installed)
if(NOT installed STREQUAL expected)
  list(JOIN expected "\n  " e)
  list(JOIN installed "\n  " i)
  message(FATAL_ERROR "installed files under ${prefix}:\n  ${i}\nexpected:\n  ${e}")
endif()

# GStreamer loads the installed plugin, not the build's.
set(module ${prefix}/${plugin_dir}/libgstquellfx.so)
set(env ${CMAKE_COMMAND} -E env GST_PLUGIN_PATH=${prefix}/${plugin_dir} GST_REGISTRY=${WORK_DIR}/registry.bin
  GST_DEBUG=quellfx:2 GST_DEBUG_NO_COLOR=1)
execute_process(COMMAND ${env} gst-inspect-1.0 quellfx OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
string(FIND "${out}" "${module}" at)
if(NOT rc EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "gst-inspect-1.0 quellfx does not load ${module} (${rc}):\n${out}${err}")
endif()

# With a data folder that does not exist, every data file comes from the
# installed one: no warnings. The same run with the installed data moved away
# shows that a missing file would be reported.
function(run_pipeline result)
  execute_process(COMMAND ${env} gst-launch-1.0 videotestsrc num-buffers=5 ! videoconvert
    ! quellfx data-dir=/nonexistent-quell ! videoconvert ! fakesink
    WORKING_DIRECTORY ${WORK_DIR} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gst-launch-1.0 failed (${rc}):\n${out}${err}")
  endif()
  set(${result} "${out}${err}" PARENT_SCOPE)
endfunction()
function(has_warning text result)
  if(text MATCHES "WARNING: from element|WARN +[^\n]*quellfx")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

run_pipeline(found)
has_warning("${found}" warned)
if(warned)
  message(FATAL_ERROR "the installed plugin does not find its installed data:\n${found}")
endif()

file(RENAME ${prefix}/share/quellfx/data ${prefix}/share/quellfx/moved)
run_pipeline(missing)
has_warning("${missing}" warned)
if(NOT warned)
  message(FATAL_ERROR "no warning with the installed data moved away:\n${missing}")
endif()
message(STATUS "installed under ${prefix}; the installed plugin loads and finds its data")
