// Runs a fuzz target over stored inputs, as a plain test: every file in the corpus
// folders named on the command line, and the built-in seeds of the target.
// `--write-seeds DIR` writes the built-in seeds into DIR instead, as files a fuzzer
// can start from.
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
std::vector<std::string> FuzzSeeds();

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
    size_t n = 0;
    for (const std::string& seed : FuzzSeeds()) {
      std::ofstream out(std::filesystem::path(argv[2]) / ("seed-" + std::to_string(n++)), std::ios::binary);
      out << seed;
      if (!out.flush()) return 1;
    }
    printf("%zu seeds written\n", n);
    return 0;
  }
  size_t runs = 0;
  for (const std::string& seed : FuzzSeeds()) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
    ++runs;
  }
  for (int a = 1; a < argc; ++a) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(argv[a], ec)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++runs;
    }
  }
  printf("%zu passed, 0 failed\n", runs);
  return 0;
}
