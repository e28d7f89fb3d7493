// Replays kept fuzz inputs through the fuzz target without the fuzzing
// runtime: each argument is a file or a folder of files. Any input that
// crashes, or trips a sanitizer in the sanitized build, fails the test.
//
// The files of a folder inside a folder run right after one another in name
// order, nothing between them: a sequence, for a fault that one run leaves
// for the next to trip over.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; i++) {
    // Absolute: a run changes the working folder.
    std::filesystem::path p = std::filesystem::absolute(argv[i]);
    if (std::filesystem::is_directory(p)) {
      // Sorted by path, the files of a folder inside stay together.
      for (const auto& e : std::filesystem::recursive_directory_iterator(p))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.push_back(p);
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s\n", f.string().c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
