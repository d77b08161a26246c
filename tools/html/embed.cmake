# Writes OUT, a C++ header holding the player's files of DIR as string constants, so that the
# program carries them: cmake -DDIR=... -DOUT=... -DSCRIPTS=store.js,renderer.js,... -P embed.cmake
# The page is windows-1252, in which every byte is a character: the files must be ASCII.
set(text "// Made by tools/html/embed.cmake from the player's files; edit those.\n#pragma once\n")
string(REPLACE "," ";" scripts "${SCRIPTS}")
foreach(name player.html player.css ${scripts})
  file(READ ${DIR}/${name} content)
  string(MAKE_C_IDENTIFIER ${name} id)
  string(TOUPPER ${id} upper)
  if(content MATCHES "\\)player\"")
    message(FATAL_ERROR "${name} holds the raw string's end mark )player\"")
  endif()
  if(NOT content MATCHES "^[\t\n\r -~]*$")
    message(FATAL_ERROR "${name} holds a character beyond ASCII; write it as an escape")
  endif()
  string(APPEND text "inline constexpr const char ${upper}[] = R\"player(${content})player\";\n")
endforeach()
file(WRITE ${OUT}.new "${text}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
