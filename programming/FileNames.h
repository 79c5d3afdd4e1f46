#pragma once
// File names are bytes: a name that is not UTF-8 travels in a QString without losing a byte,
// and is shown readably.

#include <QString>
#include <string>
#include <string_view>

namespace vardelio {

// UTF-8 is decoded; each byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF, which no decoded name holds, so FileNameBytes gives the bytes back.
QString FileNameFromBytes(std::string_view bytes);
std::string FileNameBytes(const QString& name);

// For a title, a menu or a box: a byte kept as a surrogate shows as its Windows-1252 (Latin-1)
// character ("Núñez" written by an old system), a control character as U+FFFD.
QString ReadableFileName(const QString& name);

// Relative to the current folder, as bytes: the current folder's own name may not be UTF-8.
std::string AbsoluteFileName(const std::string& bytes);

// Whether the name, as bytes, names something on disk. A name that cannot be checked (a folder
// this user may not search, a share that answers with an error) counts as there: only a name
// the system says is gone (ENOENT, ENOTDIR) is not.
bool FileNameExists(const QString& name);

}  // namespace vardelio
