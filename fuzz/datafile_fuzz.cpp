// The data.dat reader: any bytes read over the reset values, written out and
// read again, give the same file (the reader never reads past the end, and
// what it keeps is a fixed point of writing and reading).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/DataFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelt;
  TDataImage first;
  const bool whole = ParseDataImage(std::string_view(reinterpret_cast<const char*>(data), size), first);
  const std::string written = SerializeDataImage(first);
  TDataImage second;
  if (!ParseDataImage(written, second)) std::abort();
  if (SerializeDataImage(second) != written) std::abort();
  // Read whole, the file comes back at most two bytes longer per list line
  // (a line end missing or a CR alone becomes CR LF); the reader never
  // invents content.
  if (whole) {
    const size_t lines = first.Favorites.Count() + first.ForumNames.Count() + first.ReadMarks.Count();
    if (written.size() > size + 2 * lines) std::abort();
  }
  return 0;
}
