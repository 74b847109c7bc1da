// The harnesses without libFuzzer: runs every file of the given corpus folder
// through LLVMFuzzerTestOneInput once, so the seed corpus and every crash ever
// found stay regression tests.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::set<std::filesystem::path> files;  // in name order
  for (const auto& e : std::filesystem::directory_iterator(argv[1]))
    if (e.is_regular_file()) files.insert(e.path());
  for (const auto& p : files) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return 2;  // an unread input would pass unseen
    const std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs ran\n", files.size());
  return files.empty() ? 1 : 0;  // an empty corpus proves nothing
}
