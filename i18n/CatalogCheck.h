#pragma once
// Decides whether bytes are a GNU .mo catalog that glibc can follow without leaving them.

#include <cstddef>

namespace vardelio {

// Revisions 0 and 1 (system-dependent strings), either byte order: every table, offset and
// length the library follows lies inside the bytes, every string it reads ends in a NUL, every
// reference names an entry that exists, every hash probe reaches an empty slot, the header's
// charset name is short enough for glibc to copy onto a thread's stack, and no translation
// glibc converts from another charset is long enough to stall it.
bool IsSoundCatalog(const unsigned char* data, std::size_t size);

}  // namespace vardelio
