# Each library exposes its own headers and nothing else. Sources include
# headers as "<folder>/<file>.h" ("avi/avi_writer.h"); a library's include
# root, in the build tree, holds only a link named after its own folder. A
# target sees the folders of the libraries it links (and of what their public
# headers include), so an include of any other library fails to compile
# instead of building against code the target does not link.
#
#   quelmux_expose_headers(<target> <folder> [HEADERS <file>...])
#
# Without HEADERS the whole folder is linked; with HEADERS (for a folder that
# holds two libraries) only the files named, each linked on its own.
set(QUELMUX_HEADER_ROOTS ${PROJECT_BINARY_DIR}/headers)

function(quelmux_expose_headers target folder)
  cmake_parse_arguments(ARG "" "" "HEADERS" ${ARGN})
  get_filename_component(name ${folder} NAME)
  set(root ${QUELMUX_HEADER_ROOTS}/${target})
  set(link ${root}/${name})
  if(ARG_HEADERS)
    if(IS_SYMLINK ${link})
      file(REMOVE ${link})
    endif()
    file(MAKE_DIRECTORY ${link})
    # Links left from an earlier configuration go, so that a header taken
    # off the list is no longer seen.
    file(GLOB old_links LIST_DIRECTORIES false ${link}/*)
    foreach(old IN LISTS old_links)
      get_filename_component(old_name ${old} NAME)
      if(NOT old_name IN_LIST ARG_HEADERS)
        file(REMOVE ${old})
      endif()
    endforeach()
    foreach(header IN LISTS ARG_HEADERS)
      file(CREATE_LINK ${folder}/${header} ${link}/${header} SYMBOLIC)
    endforeach()
  else()
    if(EXISTS ${link} AND NOT IS_SYMLINK ${link})
      file(REMOVE_RECURSE ${link})
    endif()
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${folder} ${link} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
