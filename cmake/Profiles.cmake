# The facts of a profile, found when the build is configured. Included by CMakeLists.txt.

# The facts of profile `profile`: cmake/describe_profile.cpp compiled with the profile and run, so
# that a profile may compute its counts or set its own layout and the build, the manual pages, the
# package and the tests still get the values the program uses. Sets `name`_FACTS to a JSON object
# of the constants.
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
  set(${name}_FACTS ${facts} PARENT_SCOPE)
endfunction()
