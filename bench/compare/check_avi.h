// Proof that an AVI written by quelmux from a movie of repeated pictures lost
// nothing: every frame decoded and compared with the picture as quelmux
// stores it.
#pragma once

#include <cstddef>
#include <string>

#include "picture.h"

namespace compare {

// True when the file holds `frames` frames (Corvath or uncompressed), each
// the picture as bottom-up blue, green, red rows. `report` says
// "N frames identical" or what differs.
bool check_avi(const std::string& path, const Picture& picture, std::size_t frames, std::string& report);

}  // namespace compare
