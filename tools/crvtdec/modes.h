// The four things crvtdec does, each given the command line and returning
// the exit status.
#pragma once

#include "crvtdec/options.h"

namespace crvtdec {

int run_to_avi(const Options& options);   // <in.avi> <out.avi>
int run_frames(const Options& options);   // --frames [--png]
int run_compare(const Options& options);  // --compare
int run_info(const Options& options);     // --info

}  // namespace crvtdec
