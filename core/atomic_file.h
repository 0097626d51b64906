#pragma once
// Writing files so that each is either complete or absent, and the files of one command all or
// none: every text goes to a temporary file beside its target first, and only once all of them
// were written do they replace their targets, one rename each. Only regular files are replaced:
// a folder, device, FIFO or socket as a target is refused, and a symbolic link is written
// through to the file it names. A replaced file keeps its permission bits (and, where the
// process may set them, its owner).
//
// Temporaries are named ".kestrel-write-<pid>-XXXXXX". A batch dropped before its commit
// removes its own; those of a process that no longer runs (killed while writing) are removed by
// the next batch that writes into the same folder.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrel::core {

class FileBatch {
 public:
  FileBatch() = default;
  FileBatch(const FileBatch&) = delete;
  FileBatch& operator=(const FileBatch&) = delete;
  ~FileBatch();  // removes the temporaries of an uncommitted batch

  // Checks `path` as a target (check_output_target) and streams `body` into its temporary.
  // False, with a message naming the file and the reason in `error`, when the target is refused
  // or the temporary cannot be written; the batch must then be dropped.
  bool add(const std::string& path, const std::function<void(std::ostream&)>& body,
           std::string* error = nullptr);

  // Renames every temporary over its target, in the order they were added. False, with the
  // reason, when a rename fails (the targets renamed before it stay replaced).
  bool commit(std::string* error = nullptr);

 private:
  struct Staged {
    std::string temp, target;
  };
  std::vector<Staged> staged_;
  std::vector<std::string> swept_;  // folders already cleared of stale temporaries
};

// Where writing `path` would go: the file itself, or the file a symbolic link names. False,
// with a message naming `path`, when it exists as something other than a regular file or is a
// link to a missing file.
bool check_output_target(const std::string& path, std::string* target = nullptr,
                         std::string* error = nullptr);

// Streams `body` into `path`, all or nothing: a FileBatch of one file. False, with a message
// naming the file and the reason in `error`, when the target is refused, the temporary file
// cannot be created, a write fails or the rename fails; an older `path` then stays as it was.
bool write_file_atomically(const std::string& path, const std::function<void(std::ostream&)>& body,
                           std::string* error = nullptr);

}  // namespace kestrel::core
