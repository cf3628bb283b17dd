// A main for the fuzz targets without libFuzzer: runs the target once on
// every file named on the command line, or on every file inside a named
// directory, in name order. This is how the committed corpus runs as a
// plain regression test with any compiler.
//
//   build/fuzz-replay/fuzz_parse fuzz/corpus/fuzz_parse
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      for (const auto& entry : fs::directory_iterator(arg)) {
        // A name the system reserves (NUL, CON, ... on Windows) is no
        // regular file there: say so rather than skip it.
        if (!entry.is_regular_file()) {
          std::fprintf(stderr, "%s: not a regular file\n", entry.path().string().c_str());
          return 2;
        }
        files.push_back(entry.path());
      }
    } else if (fs::is_regular_file(arg, ec)) {
      files.push_back(arg);
    } else {
      std::fprintf(stderr, "%s: not a file or directory\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "%s: cannot read\n", file.string().c_str());
      return 2;
    }
    // A copy of exactly the input's size, as libFuzzer hands it over.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("%s: replayed %zu inputs\n", argc > 0 ? argv[0] : "replay", files.size());
  return 0;
}
