// crvtdec: decodes, verifies and inspects Corvath AVI files.
#include <cstdio>
#include <new>

#include "crvtdec/messages.h"
#include "crvtdec/modes.h"
#include "crvtdec/options.h"

int main(int argc, char** argv) {
  using namespace crvtdec;
  try {
    Options options;
    if (!parse_options(argc, argv, options)) return 1;
    switch (options.mode) {
      case Mode::help: std::fputs(help_text(), stdout); return 0;
      case Mode::version: std::fputs(version_text(), stdout); return 0;
      case Mode::to_avi: return run_to_avi(options);
      case Mode::frames: return run_frames(options);
      case Mode::compare: return run_compare(options);
      case Mode::info: return run_info(options);
    }
  } catch (const std::bad_alloc&) {
    // The buffers are checked where they are taken; this is what is left.
    error("out of memory");
  }
  return 1;
}
