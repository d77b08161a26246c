# The facts of a profile, found when the build is configured, and the advice the build gives on
# them. Included by CMakeLists.txt; tests/cmake/layout_advice.cmake includes it to check the advice.

# The facts of profile `profile`: cmake/describe_profile.cpp compiled with the profile and run, so
# that a profile may compute its counts or set its own layout and the build, the manual pages, the
# package and the tests still get the values the program uses. Sets `name`_FACTS to a JSON object
# of the constants, and warns where the profile's layout does not fit its cells.
#
# The facts are taken when the build is configured, and everything made from them (`name`.json,
# the manual pages, the package text) then. So that they never disagree with the program, which
# is compiled from the same headers, a change to any of those headers configures the build again
# on the next `cmake --build`: the profile (which holds constants and includes nothing), the
# header that derives the rest from it, and what describes it.
function(meshplay_profile_facts name profile)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/profiles/${profile}
    ${PROJECT_SOURCE_DIR}/src/model/profile.h
    ${PROJECT_SOURCE_DIR}/src/model/display_settings.h
    ${PROJECT_SOURCE_DIR}/src/model/profile_facts.h
    ${PROJECT_SOURCE_DIR}/cmake/describe_profile.cpp)
  set(source ${PROJECT_BINARY_DIR}/describe/${name}.cpp)
  file(WRITE ${source} "#define MESHPLAY_PROFILE \"${profile}\"\n"
    "#include \"${PROJECT_SOURCE_DIR}/cmake/describe_profile.cpp\"\n")
  try_run(ran compiled ${PROJECT_BINARY_DIR}/describe/${name} ${source}
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR}/src;${PROJECT_SOURCE_DIR}/profiles"
    CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON
    COMPILE_OUTPUT_VARIABLE compiler RUN_OUTPUT_VARIABLE facts)
  if(NOT compiled OR NOT ran EQUAL 0)
    message(FATAL_ERROR "profiles/${profile} does not build:\n${compiler}")
  endif()
  meshplay_layout_advice(${profile} "${facts}" advice)
  if(advice)
    message(WARNING "${advice}")
  endif()
  set(${name}_FACTS ${facts} PARENT_SCOPE)
endfunction()

# Sets `variable` to the warning a profile with these facts gets, or to "" if none. Without the
# four layout macros the label and the progress bar lie 1.5 to 3 cells below the grid: with cells
# under about three pixels at the opening zoom the label runs into the mesh and the bar shrinks to
# a pixel or nothing, and the program's own end-to-end tests fail on it.
function(meshplay_layout_advice profile facts variable)
  # As describe_profile.cpp writes them ("2.7"), not as CMake's JSON reads them back.
  string(REGEX MATCH "\"CELL_PIXELS\": ([^,}]+)" found "${facts}")
  set(pixels ${CMAKE_MATCH_1})
  string(REGEX MATCH "\"LAYOUT_MACROS\": ([^,}]+)" found "${facts}")
  set(macros ${CMAKE_MATCH_1})
  set(advice "")
  if(pixels LESS 3 AND macros LESS 4)
    string(CONCAT advice "profiles/${profile}: its cells are ${pixels} pixels at the opening "
      "zoom, and it does not define all four of PROFILE_FRAME_HALF_WIDTH, PROFILE_LABEL_DEPTH, "
      "PROFILE_BAR_TOP_DEPTH and PROFILE_BAR_BOTTOM_DEPTH: the time label would run into the "
      "mesh and the progress bar shrink to a pixel or nothing. Define all four in the header, "
      "as docs/profiles.md says under \"When to set the layout\".")
  endif()
  set(${variable} "${advice}" PARENT_SCOPE)
endfunction()
