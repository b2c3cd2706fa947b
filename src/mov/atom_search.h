// Finding atoms in the in-memory header window by scanning for their tags.
#pragma once

// Looks for the four bytes of `tag` at `position` + i for i from 0 while
// i < `window`, one byte at a time, ignoring atom sizes and nesting. On the
// first match moves `position` to it, reduces `window` by i and returns true;
// otherwise leaves both unchanged and returns false. A match near the end may
// take up to 3 bytes past the window: those count as zero bytes and are never
// read, so `position` needs to hold only `window` bytes. A window of 0 or
// less finds nothing.
bool findtag(unsigned char*& position, const char* tag, int& window);
