// The programming-file reader reads nothing past its text, takes only values a save would
// write, and what it takes is written and read back unchanged.

#include <cstdlib>
#include <memory>

#include "programming/ProgrammingFile.h"

using namespace vardelio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // In a buffer exactly its size, so a read past the end is caught.
  const auto exact = std::make_unique<char[]>(size);
  std::copy(data, data + size, exact.get());
  const TProgrammingFileParse parsed = ParseProgrammingFile(std::string_view(exact.get(), size));
  if (!parsed.values) {
    if (parsed.fault.problem.isEmpty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (CheckProgramming(*parsed.values)) std::abort();
  const TProgrammingFileParse again = ParseProgrammingFile(ProgrammingFileText(*parsed.values));
  if (!again.values || ProgrammingFileText(*again.values) != ProgrammingFileText(*parsed.values)) {
    std::abort();
  }
  return 0;
}
