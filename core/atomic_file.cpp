#include "core/atomic_file.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace kestrel::core {

namespace {

bool fail(std::string* error, const std::string& path, const std::string& why) {
  if (error) *error = path + ": cannot write the file (" + why + ")";
  return false;
}

// The folder part of `path` with its slash, or "" for a bare name.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace

bool write_file_atomically(const std::string& path, const std::function<void(std::ostream&)>& body,
                           std::string* error) {
  // A unique name beside the target, so the rename stays within one file system.
  std::string pattern = folder_of(path) + ".kestrel-write-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return fail(error, path, std::strerror(errno));
  // mkstemp makes the file private; give it the mode a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  const std::string temp(name.data());

  bool written;
  {
    std::ofstream out(temp, std::ios::trunc);
    if (out) body(out);
    out.flush();
    written = static_cast<bool>(out);
  }
  if (!written) {
    std::remove(temp.c_str());
    return fail(error, path, "the write failed");
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int code = errno;
    std::remove(temp.c_str());
    return fail(error, path, std::strerror(code));
  }
  return true;
}

}  // namespace kestrel::core
