# Flags shared by every target of the project.
add_compile_options(-Wall -Wextra)

# CI builds with warnings as errors (scripts/test.sh); users' builds only warn,
# so that a newer compiler's new warning does not stop an install.
option(QUELMUX_WERROR "Treat compiler warnings as errors" OFF)
if(QUELMUX_WERROR)
  add_compile_options(-Werror)
endif()

if(QUELMUX_SANITIZE)
  # Stop at the first report so that CTest sees a failure.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The threads of quelmux -j and crvtdec -j, and libcorvath's handles on
# several threads.
if(QUELMUX_TSAN)
  if(QUELMUX_SANITIZE)
    message(FATAL_ERROR "QUELMUX_TSAN and QUELMUX_SANITIZE cannot be combined")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(QUELMUX_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
