// Runs a fuzz target once over each file named on the command line, as
// libFuzzer runs it over its seeds, so that the tests check the target's
// properties in every build. The target aborts at an input that breaks one.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file) return 2;  // a missing seed is no pass
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  for (const std::string& in : inputs) {
    // A block of exactly its size, as libFuzzer gives: a read past its end is one past the block.
    std::vector<uint8_t> exact(in.begin(), in.end());
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
  }
  return 0;
}
