# gst-inspect-1.0 quellfx must list the element's properties and its signal.
execute_process(COMMAND gst-inspect-1.0 quellfx OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gst-inspect-1.0 quellfx failed (${rc}): ${err}")
endif()
foreach(needle "Filter/Effect/Video" "Rank                     none" "data-dir" "high-score" "Unsigned Integer64"
               "score               : " "flags: readable\n" "\"reset-faces\"" "format: BGRx"
               "clock               : " "Default: 0, \"wall\"" "(1): stream")
  string(FIND "${out}" "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "gst-inspect-1.0 quellfx does not show '${needle}':\n${out}")
  endif()
endforeach()
message(STATUS "gst-inspect-1.0 quellfx lists the interface")
