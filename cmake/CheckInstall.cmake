# Run by CTest: `cmake --install` into PREFIX, then checks that exactly the programs, their
# companions (<program>-<tool> for each of TOOLS) and their manual pages are there, that each page
# is the right one, and that each installed program runs (without a display a viewer reports its
# three missing files, prompts, and GLUT gives up; a companion tells its version).
# With DEB=ON it builds the Debian package into PREFIX instead and checks its contents and
# dependencies.
cmake_minimum_required(VERSION 3.20)

function(fail)
  string(JOIN "" message ${ARGN})
  message(FATAL_ERROR "install check: ${message}")
endfunction()

string(REPLACE "," ";" PROGRAMS "${PROGRAMS}")
string(REPLACE "," ";" TOOLS "${TOOLS}")
set(expected)
foreach(program IN LISTS PROGRAMS)
  list(APPEND expected ${BINDIR}/${program} ${MANDIR}/man1/${program}.1.gz)
  foreach(tool IN LISTS TOOLS)
    list(APPEND expected ${BINDIR}/${program}-${tool} ${MANDIR}/man1/${program}-${tool}.1.gz)
  endforeach()
endforeach()
list(SORT expected)
string(JOIN ", " expected_text ${expected})

file(REMOVE_RECURSE ${PREFIX})

if(DEB)
  execute_process(COMMAND ${CPACK} -G DEB -B ${PREFIX} --config ${BUILD_DIR}/CPackConfig.cmake
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  file(GLOB deb ${PREFIX}/*.deb)
  if(NOT status EQUAL 0 OR NOT deb)
    fail("cpack made no package:\n" ${out})
  endif()
  execute_process(COMMAND dpkg-deb --contents ${deb} OUTPUT_VARIABLE listing)
  execute_process(COMMAND dpkg-deb --field ${deb} Depends OUTPUT_VARIABLE depends)
  string(REGEX MATCHALL "\\./usr/[^\n]*[^/\n]\n" files "${listing}")
  list(TRANSFORM files REPLACE "^\\./usr/(.*)\n$" "\\1")
  list(SORT files)
  string(JOIN ", " files_text ${files})
  if(NOT files_text STREQUAL expected_text)
    fail("the package holds ${files_text}\n  expected ${expected_text} under /usr")
  endif()
  if(NOT depends MATCHES "libglut" OR NOT depends MATCHES "libgl1"
     OR NOT depends MATCHES "libpng16")
    fail("the package does not depend on the freeglut, GL and PNG runtimes: ${depends}")
  endif()
  execute_process(COMMAND dpkg-deb --field ${deb} Recommends OUTPUT_VARIABLE recommends)
  if(NOT recommends MATCHES "ffmpeg")
    fail("the package does not recommend ffmpeg, which the recorders run: ${recommends}")
  endif()
  file(REMOVE_RECURSE ${PREFIX})
  return()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  fail("cmake --install failed:\n" ${out})
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
  string(JOIN ", " installed_text ${installed})
  fail("installed files differ\n  expected: ${expected_text}\n  found:    ${installed_text}")
endif()

set(empty ${PREFIX}/empty-working-folder)
file(MAKE_DIRECTORY ${empty})
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND gzip -dc ${PREFIX}/${MANDIR}/man1/${program}.1.gz
    RESULT_VARIABLE status OUTPUT_VARIABLE page)
  string(TOUPPER ${program} title)
  if(NOT status EQUAL 0 OR NOT page MATCHES "(^|\n)\\.TH ${title} 1 ")
    fail("${program}.1.gz is not a gzip-compressed page of ${program}")
  endif()

  # The tables are zero until the program runs: they take no room in the file, so the programs'
  # initialised data are the same whatever the size of their models (B's tables are 34 KB more
  # than A's).
  execute_process(COMMAND size ${PREFIX}/${BINDIR}/${program} OUTPUT_VARIABLE sizes)
  if(NOT sizes MATCHES "\n *[0-9]+\t *([0-9]+)\t")
    fail("size cannot read ${program}: ${sizes}")
  endif()
  list(APPEND data_sizes ${CMAKE_MATCH_1})

  # No display: the program reads its files, prompts, takes the end of its input for Enter and
  # stops where GLUT cannot open the window. Leak reports would come from the X libraries.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY ASAN_OPTIONS=detect_leaks=0
            ${PREFIX}/${BINDIR}/${program}
    WORKING_DIRECTORY ${empty} INPUT_FILE /dev/null
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(start "file cannot open.\nfile cannot open.\nfile cannot open.\npress Enter to start \n")
  if(NOT out STREQUAL start OR status EQUAL 0 OR NOT err MATCHES "failed to open display")
    fail("installed ${program} did not start as expected (status ${status})\n"
         "stdout: ${out}\nstderr: ${err}")
  endif()

  foreach(tool IN LISTS TOOLS)
    set(name ${program}-${tool})
    execute_process(COMMAND gzip -dc ${PREFIX}/${MANDIR}/man1/${name}.1.gz OUTPUT_VARIABLE page)
    string(TOUPPER ${name} title)
    if(NOT page MATCHES "(^|\n)\\.TH ${title} 1 ")
      fail("${name}.1.gz is not the page of ${name}")
    endif()
    execute_process(COMMAND ${PREFIX}/${BINDIR}/${name} --version
      RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0 OR NOT out MATCHES "^${name} [0-9]")
      fail("installed ${name} --version: status ${status}, stdout: ${out}, stderr: ${err}")
    endif()

    # A companion that draws (the recorder) carries the drawing and the model, never the viewer's
    # callbacks nor its global state; one without a window carries no drawing either.
    execute_process(COMMAND nm -C ${PREFIX}/${BINDIR}/${name} RESULT_VARIABLE status
      OUTPUT_VARIABLE symbols ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
      fail("nm cannot read ${name}: ${err}")
    endif()
    set(symbols "\n${symbols}")
    set(viewer_only "drawFrame\\(\\)|onIdle\\(\\)|startViewer\\(int, char\\*\\*\\)|state")
    if(tool STREQUAL "record")
      if(NOT symbols MATCHES "\n[0-9a-f]+ T drawRecord\\(")
        fail("${name} does not define drawRecord: the check below would see nothing")
      endif()
    else()
      string(APPEND viewer_only "|drawRecord\\([^\n]*\\)")
    endif()
    if(symbols MATCHES "\n[0-9a-f ]+ [A-Za-z] (${viewer_only})\n")
      fail("${name} carries ${CMAKE_MATCH_1}, which belongs to the viewer alone")
    endif()
  endforeach()
endforeach()
list(SORT data_sizes COMPARE NATURAL)
list(GET data_sizes 0 smallest)
list(GET data_sizes -1 largest)
math(EXPR growth "${largest} - ${smallest}")
if(growth GREATER 4096)
  fail("the programs' initialised data differ by ${growth} bytes (${data_sizes}): the tables went in")
endif()
file(REMOVE_RECURSE ${PREFIX})
