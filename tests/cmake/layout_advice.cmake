# The build's advice on a profile's layout (cmake/Profiles.cmake), run by CTest as
# `cmake -DSOURCE_DIR=... -P layout_advice.cmake`: a profile of cells under three pixels that does
# not define all four layout macros is warned about, naming them and docs/profiles.md; any other
# is not.
cmake_minimum_required(VERSION 3.20)
include(${SOURCE_DIR}/cmake/Profiles.cmake)

set(failures "")
# cell pixels, layout macros defined, warned
foreach(row "17;0;NO" "8;0;NO" "3;0;NO" "2.7;0;YES" "2.7;3;YES" "2.7;4;NO" "0.8;0;YES")
  list(GET row 0 pixels)
  list(GET row 1 macros)
  list(GET row 2 warned)
  meshplay_layout_advice(profile_x.h "{\"CELL_PIXELS\": ${pixels}, \"LAYOUT_MACROS\": ${macros}}"
    advice)
  set(named TRUE)
  foreach(word profiles/profile_x.h PROFILE_FRAME_HALF_WIDTH PROFILE_LABEL_DEPTH
          PROFILE_BAR_TOP_DEPTH PROFILE_BAR_BOTTOM_DEPTH "docs/profiles.md"
          "When to set the layout")
    string(FIND "${advice}" "${word}" at)
    if(at EQUAL -1)
      set(named FALSE)
    endif()
  endforeach()
  if(warned AND NOT named)
    string(APPEND failures "\n  ${pixels} pixels, ${macros} macros: expected a warning naming "
      "the profile, the four macros and docs/profiles.md, got '${advice}'")
  elseif(NOT warned AND NOT advice STREQUAL "")
    string(APPEND failures "\n  ${pixels} pixels, ${macros} macros: expected no warning, got "
      "'${advice}'")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "layout advice:${failures}")
endif()
