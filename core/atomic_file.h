#pragma once
// Writing a file so that it is either complete or absent: the text goes to a temporary file in
// the same folder, which replaces the final name only once everything was written.

#include <functional>
#include <ostream>
#include <string>

namespace kestrel::core {

// Streams `body` into `path`. False, with a message naming the file and the reason in `error`,
// when the temporary file cannot be created, a write fails or the rename fails (for example
// when `path` is a folder); no file is then left behind and an older `path` stays as it was.
bool write_file_atomically(const std::string& path, const std::function<void(std::ostream&)>& body,
                           std::string* error = nullptr);

}  // namespace kestrel::core
