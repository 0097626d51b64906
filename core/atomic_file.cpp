#include "core/atomic_file.h"

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>

namespace kestrel::core {

namespace {

constexpr char kTempPrefix[] = ".kestrel-write-";
// A temporary whose name carries no process id (written before they did) counts as left over
// once it is this old.
constexpr time_t kOldTempSeconds = 600;

bool fail(std::string* error, const std::string& path, const std::string& why) {
  if (error) *error = path + ": cannot write the file (" + why + ")";
  return false;
}

// The folder part of `path` with its slash, or "" for a bare name.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Whether the temporary `name` in `folder` was left by a process that no longer runs.
bool left_over(const std::string& folder, const char* name) {
  const char* rest = name + sizeof kTempPrefix - 1;
  char* end = nullptr;
  const long pid = std::strtol(rest, &end, 10);
  if (end != rest && *end == '-' && pid > 0 && pid <= INT_MAX) {
    if (pid == static_cast<long>(getpid())) return false;
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  }
  struct stat st;
  const std::string path = (folder.empty() ? "./" : folder) + name;
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         std::time(nullptr) - st.st_mtime > kOldTempSeconds;
}

// Removes the temporaries of writers that were killed before they could remove them.
void sweep(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                          &closedir);
  if (!dir) return;
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strncmp(entry->d_name, kTempPrefix, sizeof kTempPrefix - 1) != 0) continue;
    if (left_over(folder, entry->d_name)) unlink((folder + entry->d_name).c_str());
  }
}

// Gives the temporary the mode (and owner) of the file it replaces, or a plain create's mode.
void match_mode(int fd, const struct stat* replaced) {
  if (replaced) {
    fchmod(fd, replaced->st_mode & 07777);
    if (replaced->st_uid != geteuid() || replaced->st_gid != getegid())
      (void)fchown(fd, replaced->st_uid, replaced->st_gid);  // only where permitted
    return;
  }
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
}

}  // namespace

bool check_output_target(const std::string& path, std::string* target, std::string* error) {
  struct stat st;
  std::string where = path;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), &std::free);
    if (!real) return fail(error, path, "a symbolic link to a missing file");
    where = real.get();
  }
  if (stat(where.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return fail(
        error, path,
        std::string("it is ") + kind_of(st.st_mode) + "; only a regular " + "file is replaced");
  if (target) *target = where;
  return true;
}

FileBatch::~FileBatch() {
  for (const Staged& s : staged_) std::remove(s.temp.c_str());
}

bool FileBatch::add(const std::string& path, const std::function<void(std::ostream&)>& body,
                    std::string* error) {
  std::string target;
  if (!check_output_target(path, &target, error)) return false;
  // A unique name beside the target, so the rename stays within one file system.
  const std::string folder = folder_of(target);
  if (std::find(swept_.begin(), swept_.end(), folder) == swept_.end()) {
    sweep(folder);
    swept_.push_back(folder);
  }
  std::string pattern =
      folder + kTempPrefix + std::to_string(static_cast<long>(getpid())) + "-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return fail(error, path, std::strerror(errno));
  staged_.push_back({name.data(), target});
  struct stat replaced;
  match_mode(fd, stat(target.c_str(), &replaced) == 0 ? &replaced : nullptr);
  close(fd);

  std::ofstream out(staged_.back().temp, std::ios::trunc);
  if (out) body(out);
  out.flush();
  if (!out) return fail(error, path, "the write failed");
  out.close();
  if (!out) return fail(error, path, "the write failed");
  return true;
}

bool FileBatch::commit(std::string* error) {
  std::vector<Staged> staged;
  staged.swap(staged_);
  for (size_t k = 0; k < staged.size(); ++k) {
    if (std::rename(staged[k].temp.c_str(), staged[k].target.c_str()) != 0) {
      const int code = errno;
      for (size_t j = k; j < staged.size(); ++j) std::remove(staged[j].temp.c_str());
      return fail(error, staged[k].target, std::strerror(code));
    }
  }
  return true;
}

bool write_file_atomically(const std::string& path, const std::function<void(std::ostream&)>& body,
                           std::string* error) {
  FileBatch batch;
  return batch.add(path, body, error) && batch.commit(error);
}

}  // namespace kestrel::core
