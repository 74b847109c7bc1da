// Differential: the linear decoders against the literal ones (replace the
// first occurrence, search again from the start), byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/unit/core_reference_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;  // the literal decoders are quadratic
  if (!zelt::reference::DecodesAsLiteral(std::string(reinterpret_cast<const char*>(data), size))) std::abort();
  return 0;
}
