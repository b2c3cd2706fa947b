#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/command_line.h"
#include "app/conversion_run.h"
#include "mov/movie_file.h"

int main(int argc, char** argv) {
  if (print_help_or_version(argc, argv)) return EXIT_SUCCESS;
  CommandLine line;
  if (!parse_command_line(argc, argv, line)) return EXIT_FAILURE;

  // The reader's lines as it finds the atoms, then why it failed, if it did.
  MovieFile movie = open_movie_file(line.input, [](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
  });
  if (!movie.header.ok()) {
    std::puts(movie.header.error.c_str());
    return EXIT_FAILURE;
  }
  return run_conversion(line, movie.header, movie.stream);
}
