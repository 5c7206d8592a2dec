# Lays the shipped working folder out beside the program without undoing what
# its user changed there: each file of FROM is copied into TO only where TO
# lacks it, so an edited "KT52.CF", ".sav" or dialogue file survives every
# rebuild, and a file newly shipped appears. The files under bin/ are the
# program's own (its shaders), not the user's: they follow the shipped copy.
#
#   cmake -DFROM=<shipped folder> -DTO=<working folder> -P LayOutWorkingFolder.cmake
if(NOT IS_DIRECTORY "${FROM}" OR NOT TO)
  message(FATAL_ERROR "usage: cmake -DFROM=<shipped folder> -DTO=<working folder> -P ${CMAKE_SCRIPT_MODE_FILE}")
endif()

file(GLOB_RECURSE shipped RELATIVE "${FROM}" "${FROM}/*")
foreach(name IN LISTS shipped)
  set(target "${TO}/${name}")
  if(EXISTS "${target}" AND NOT name MATCHES "^bin/")
    continue()
  endif()
  get_filename_component(folder "${target}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${FROM}/${name}" "${target}" ONLY_IF_DIFFERENT)
endforeach()
