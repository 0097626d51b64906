#include "fuzz/fuzz_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kestrel::fuzz {

namespace {

std::filesystem::path& scratch() {
  static std::filesystem::path dir;
  if (dir.empty()) {
    // Memory-backed when the system has it (and TMPDIR does not say otherwise): a run writes a
    // file for every input.
    std::filesystem::path base = std::filesystem::temp_directory_path();
    std::error_code ec;
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", ec)) base = "/dev/shm";
    std::string pattern = (base / "kestrel_fuzz_XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("kestrel fuzz: cannot make a scratch folder");
      std::abort();
    }
    dir = pattern;
    std::atexit([] { std::filesystem::remove_all(scratch()); });
  }
  return dir;
}

}  // namespace

std::string scratch_path(const std::string& name) {
  return (scratch() / name).string();
}

std::string write_input(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = scratch_path(name);
  // A new file each time: ext4 flushes a file truncated and rewritten in place to the disk when
  // it is closed, which would slow every run to the disk's pace.
  std::remove(path.c_str());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
    std::perror("kestrel fuzz: cannot write the input file");
    std::abort();
  }
  return path;
}

}  // namespace kestrel::fuzz
