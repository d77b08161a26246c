# Installation and the Debian package: both programs and the companions users run in bin/, their
# manual page in man1/, and a .deb built by CPack (`cpack -G DEB` in the build tree) that depends
# on the GL and freeglut runtime libraries the programs link.
include(GNUInstallDirs)

# The companion programs that ship beside each viewer, by tool name (the demo data generator is a
# development aid and stays in the build tree).
set(MESHPLAY_SHIPPED_TOOLS export)
set(MESHPLAY_INSTALLED ${MESHPLAY_PROGRAMS})
foreach(program IN LISTS MESHPLAY_PROGRAMS)
  foreach(tool IN LISTS MESHPLAY_SHIPPED_TOOLS)
    list(APPEND MESHPLAY_INSTALLED ${program}-${tool})
  endforeach()
endforeach()
install(TARGETS ${MESHPLAY_INSTALLED} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# One page describes every program; it is installed under each program's name so that `man
# meshplay-a` and `man meshplay-b` both find it, and compressed, as Debian ships manual pages.
# gzip -n leaves out the name and time stamp, so the package's bytes do not depend on the build.
find_program(MESHPLAY_GZIP gzip REQUIRED)
set(MESHPLAY_MAN_PAGE ${PROJECT_BINARY_DIR}/meshplay.1.gz)
add_custom_command(OUTPUT ${MESHPLAY_MAN_PAGE}
  COMMAND ${MESHPLAY_GZIP} -9n < ${PROJECT_SOURCE_DIR}/docs/meshplay.1 > ${MESHPLAY_MAN_PAGE}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/meshplay.1
  COMMENT "Compressing the manual page")
add_custom_target(meshplay-man-page ALL DEPENDS ${MESHPLAY_MAN_PAGE})
foreach(program IN LISTS MESHPLAY_INSTALLED)
  install(FILES ${MESHPLAY_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    RENAME ${program}.1.gz)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME meshplay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "replay the time history of a 2D triangulated model in an OpenGL window")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "meshplay-a and meshplay-b replay, frame by frame, the computed motion of a rectangular grid of
nodes joined by triangles (a block on a shaking base, say), read from three text files: node
positions, triangles and time steps. The deformed mesh is drawn above a base line with a time
label and a progress bar; the mouse and keys play, step, stop, rewind, toggle and zoom.
meshplay-a is built for a 10 x 6 grid, meshplay-b for a 30 x 12 grid.
meshplay-a-export and meshplay-b-export write the same run for ParaView (.pvd and .vtu files)
or Gmsh (.msh).")
set(MESHPLAY_MAINTAINER "meshplay developers <meshplay@example.org>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MESHPLAY_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# freeglut's runtime is libglut3.12 from Debian 12 on and freeglut3 before; libgl1 is the GL
# dispatch library, which finds Mesa's drivers.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libglut3.12 | freeglut3, libgl1, libc6, libstdc++6, libgcc-s1")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)

# Installs into a scratch prefix and checks what lands there, and that the installed programs
# start; then builds the package and checks what it holds. Each works in a folder of its own.
if(MESHPLAY_TESTS)
  string(JOIN "," programs ${MESHPLAY_PROGRAMS})  # a list would split into arguments
  string(JOIN "," tools ${MESHPLAY_SHIPPED_TOOLS})
  set(check ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR}
    -DPROGRAMS=${programs} -DTOOLS=${tools}
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
