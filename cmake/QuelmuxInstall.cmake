# What `cmake --install` puts in place besides the targets' own install rules
# (quelmux in src/app, libcorvath in src/codec): crvtdec, the manual pages and
# the Debian package. Included after every target is defined.
#
# Components: "runtime" holds the programs, their manual pages and the shared
# library; "development" the header, the pkg-config file and the library's
# link-time name.

if(TARGET crvtdec)
  install(TARGETS crvtdec RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

# Manual pages go in compressed, as Debian's policy has them; without gzip
# they are installed as they are.
set(quelmux_man_pages quelmux.1)
if(TARGET crvtdec)
  list(APPEND quelmux_man_pages crvtdec.1)
endif()
find_program(QUELMUX_GZIP gzip)
set(quelmux_man_files)
foreach(page IN LISTS quelmux_man_pages)
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  if(QUELMUX_GZIP)
    set(target ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${target}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${PROJECT_BINARY_DIR}/man/${page}
      COMMAND ${QUELMUX_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${page}
      DEPENDS ${source}
      COMMENT "Compressing manual page ${page}"
      VERBATIM)
    list(APPEND quelmux_man_files ${target})
  else()
    list(APPEND quelmux_man_files ${source})
  endif()
endforeach()
add_custom_target(quelmux_man_pages ALL DEPENDS ${quelmux_man_files})
install(FILES ${quelmux_man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

include(${CMAKE_CURRENT_LIST_DIR}/QuelmuxPackage.cmake)
