#pragma once
// Reading and replacing a file that belongs to the user, without ever leaving it worse.

#include <optional>
#include <stdexcept>
#include <string>

namespace vardelio {

// A file that could not be read or written; what() names the file and the system's reason.
class EProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole file; nothing when it does not exist. Any other failure raises EProfileError, so
// an unreadable file is never taken for an empty one.
std::optional<std::string> ReadUserFile(const std::string& path);

// Replaces the file's contents at once: a reader sees the old file or the new one, never half
// of either, and a save killed half-way leaves no temporary behind. A link stays a link (its
// target is replaced in the target's own folder); the mode and owner stay as they were, and a
// new file gets 0666 less the umask. A file without any write bit is read-only for everyone.
void ReplaceUserFile(const std::string& path, const std::string& text);

}  // namespace vardelio
