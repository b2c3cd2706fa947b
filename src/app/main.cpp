#include <cstdlib>
#include <fstream>

#include "app/command_line.h"
#include "app/conversion_run.h"
#include "app/movie_input.h"
#include "mov/movie_header.h"

int main(int argc, char** argv) {
  if (print_help_or_version(argc, argv)) return EXIT_SUCCESS;
  CommandLine line;
  if (!parse_command_line(argc, argv, line)) return EXIT_FAILURE;

  mov_info info;
  if (!load_movie_header(line.input, info)) return EXIT_FAILURE;

  // A fresh stream, so that nothing of the header read carries over.
  std::ifstream movie;
  if (!open_movie(line.input, movie)) return EXIT_FAILURE;

  return run_conversion(line, info, movie);
}
