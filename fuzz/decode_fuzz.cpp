// Differential: the linear decoders against the literal ones (replace the
// first occurrence, search again from the start), byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/ReplyDecoding.h"
#include "tests/unit/core_reference_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelt;
  if (size > 8192) return 0;  // the literal decoders are quadratic
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string fast = input, slow = input;
  DecodeNamedEntities(fast);
  reference::DecodeNamedEntities(slow);
  if (fast != slow) std::abort();
  if (DecodeNumericRefs(input) != reference::DecodeNumericRefs(input)) std::abort();
  if (DecodeNumericRefs(fast) != reference::DecodeNumericRefs(slow)) std::abort();
  return 0;
}
