#pragma once
// What a file's replacement must take over from it before it can take the file's place.

#include <sys/stat.h>

namespace vardelio {

// Gives the open file temp the owner, group, mode, chattr flags, extended attributes and ACL
// of file, whose status is old; false when any of them could not be carried over (the file
// is then better rewritten in place).
bool CarryOver(int file, const struct stat& old, int temp);

}  // namespace vardelio
