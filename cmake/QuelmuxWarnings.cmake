# Flags shared by every target of the project.
add_compile_options(-Wall -Wextra)

if(QUELMUX_SANITIZE)
  # Stop at the first report so that CTest sees a failure.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QUELMUX_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Every subsystem library includes its headers as "<subsystem>/<file>.h".
set(QUELMUX_SOURCE_ROOT ${PROJECT_SOURCE_DIR}/src)
