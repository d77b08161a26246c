# Installation and the Debian package: the programs and their companions in bin/, their manual
# pages in man1/, and a .deb built by CPack (`cpack -G DEB` in the build tree) that depends on the
# runtime libraries the programs link.
include(GNUInstallDirs)

# Companion programs installed beside the viewers, `<program>-<tool>` each, with a page of their
# own, docs/meshplay-<tool>.1 (demodata is a build helper, not installed).
set(MESHPLAY_INSTALLED_TOOLS record export html serve)
set(MESHPLAY_INSTALLED ${MESHPLAY_PROGRAMS})
foreach(tool IN LISTS MESHPLAY_INSTALLED_TOOLS)
  list(TRANSFORM MESHPLAY_PROGRAMS APPEND -${tool} OUTPUT_VARIABLE names)
  list(APPEND MESHPLAY_INSTALLED ${names})
endforeach()
install(TARGETS ${MESHPLAY_INSTALLED} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Each program and companion has a page of its own, made from docs/meshplay.1.in and
# docs/meshplay-<tool>.1.in with its profile's facts (its grid, counts and end time), and
# installed compressed, as Debian ships manual pages. gzip -n leaves out the name and time stamp,
# so the package's bytes do not depend on the build.
find_program(MESHPLAY_GZIP gzip REQUIRED)

# The value of `key` in a program's facts, as the describe helper wrote it ("0.005", not CMake's
# seventeen digits).
function(meshplay_fact program key variable)
  string(REGEX MATCH "\"${key}\": ([^,}]+)" found "${${program}_FACTS}")
  set(${variable} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()

function(meshplay_install_man_pages program)
  set(PROGRAM ${program})
  set(VERSION ${PROJECT_VERSION})
  foreach(key NX NY DX DY NODE_COUNT ELEMENT_COUNT HEADER_VALUES VECTOR_PAIRS BASE_PAIRS
              RECORD_VALUES T_END)
    meshplay_fact(${program} ${key} ${key})
  endforeach()
  math(EXPR NX_PLUS_1 "${NX} + 1")
  math(EXPR NX_PLUS_2 "${NX} + 2")
  math(EXPR more "${HEADER_VALUES} - 1")
  set(HEADER_TEXT "the time in seconds")
  if(more EQUAL 1)
    string(APPEND HEADER_TEXT ", then 1 more value, read and ignored")
  elseif(more GREATER 1)
    string(APPEND HEADER_TEXT ", then ${more} more values, read and ignored")
  endif()
  foreach(tool "" ${MESHPLAY_INSTALLED_TOOLS})
    set(name ${program})
    set(page meshplay)
    if(tool)
      set(name ${program}-${tool})
      set(page meshplay-${tool})
    endif()
    string(TOUPPER ${name} TITLE)
    set(filled ${PROJECT_BINARY_DIR}/man/${name}.1)
    configure_file(${PROJECT_SOURCE_DIR}/docs/${page}.1.in ${filled} @ONLY)
    add_custom_command(OUTPUT ${filled}.gz
      COMMAND ${MESHPLAY_GZIP} -9n < ${filled} > ${filled}.gz
      DEPENDS ${filled} COMMENT "Compressing the manual page ${name}.1")
    add_custom_target(${name}-man-page ALL DEPENDS ${filled}.gz)
    install(FILES ${filled}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
endfunction()
foreach(program IN LISTS MESHPLAY_PROGRAMS)
  meshplay_install_man_pages(${program})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME meshplay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "replay the time history of a 2D triangulated model in an OpenGL window")
# The package's text names every program the build has, with its model.
set(models "")
foreach(program IN LISTS MESHPLAY_PROGRAMS)
  foreach(key NX NY NODE_COUNT ELEMENT_COUNT T_END)
    meshplay_fact(${program} ${key} ${key})
  endforeach()
  string(APPEND models "\n${program} is built for a ${NX} x ${NY} grid (${NODE_COUNT} nodes, "
    "${ELEMENT_COUNT} triangles, runs ending at ${T_END} s).")
endforeach()
list(JOIN MESHPLAY_PROGRAMS ", " programs)
string(REGEX REPLACE ", ([^,]*)$" " and \\1" programs "${programs}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "${programs} each replay, frame by frame, the computed motion of a rectangular grid of
nodes joined by triangles (a block on a shaking base, say), read from three text files: node
positions, triangles and time steps. The deformed mesh is drawn above a base line with a time
label and a progress bar; the mouse and keys play, step, stop, rewind, toggle and zoom.${models}
Beside each program, PROGRAM-record records the same replay, frame for frame as the viewer draws
it, into an MP4, WebM or GIF video (through ffmpeg) or a folder of PNG files, without a display
if need be (under Xvfb), PROGRAM-export writes the same run for ParaView (.pvd and .vtu
files) or Gmsh (.msh), PROGRAM-html into one web page that plays it in a browser, offline, and
PROGRAM-serve shows it in web browsers, live, while a solver writes it, each time step as soon as
its record is complete (through an SSH tunnel from a machine without a display).")
set(MESHPLAY_MAINTAINER "meshplay developers <meshplay@example.org>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MESHPLAY_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# freeglut's runtime is libglut3.12 from Debian 12 on and freeglut3 before; libgl1 is the GL
# dispatch library, which finds Mesa's drivers. The recorders write PNG with libpng and look for a
# display with libX11; they run ffmpeg for videos and Xvfb where there is no display, which a PNG
# recording on a desktop does without.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libglut3.12 | freeglut3, libgl1, libpng16-16, libx11-6, zlib1g, libc6, libstdc++6, libgcc-s1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, xvfb")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Installs into a scratch prefix and checks what lands there, and that the installed programs
# start; then builds the package and checks what it holds. Each works in a folder of its own.
if(MESHPLAY_TESTS)
  string(JOIN "," programs ${MESHPLAY_PROGRAMS})  # a list would split into arguments
  string(JOIN "," tools ${MESHPLAY_INSTALLED_TOOLS})
  set(check ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DPROGRAMS=${programs}
    -DTOOLS=${tools}
    -DBINDIR=${CMAKE_INSTALL_BINDIR} -DMANDIR=${CMAKE_INSTALL_MANDIR})
  add_test(NAME install.layout
    COMMAND ${check} -DPREFIX=${PROJECT_BINARY_DIR}/install-check
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckInstall.cmake)
  find_program(MESHPLAY_DPKG_DEB dpkg-deb)
  if(MESHPLAY_DPKG_DEB)
    add_test(NAME install.deb
      COMMAND ${check} -DPREFIX=${PROJECT_BINARY_DIR}/package-check -DDEB=ON
              -DCPACK=${CMAKE_CPACK_COMMAND}
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckInstall.cmake)
  endif()
endif()
