# Stages a fresh install of the build tree BUILD under STAGE, as a packager
# would: cmake --install BUILD --prefix /usr/local with DESTDIR=STAGE.
file(REMOVE_RECURSE "${STAGE}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr/local
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Staged install failed:\n${output}")
endif()
