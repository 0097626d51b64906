#include "assembly/forked_pairs.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

namespace kestrel::assembly {

namespace {

// A record as it crosses the pipe: both ends are the same program on the same machine.
struct Wire {
  uint64_t slot;  // its place in the list of pairs
  char verdict[24];
  double motion[16];
  double fine_share, seconds;
  uint8_t snug;
};

Wire wire_of(size_t slot, const PairRecord& r) {
  Wire w{};
  w.slot = slot;
  std::strncpy(w.verdict, r.verdict.c_str(), sizeof w.verdict - 1);
  for (size_t i = 0; i < 16; ++i) w.motion[i] = r.motion[i / 4][i % 4];
  w.fine_share = r.fine_share;
  w.seconds = r.seconds;
  w.snug = r.snug ? 1 : 0;
  return w;
}

PairRecord record_of(const Wire& w, const std::pair<size_t, size_t>& ab) {
  PairRecord r;
  r.a = ab.first;
  r.b = ab.second;
  r.verdict = std::string(w.verdict, strnlen(w.verdict, sizeof w.verdict));
  for (size_t i = 0; i < 16; ++i) r.motion[i / 4][i % 4] = w.motion[i];
  r.fine_share = w.fine_share;
  r.seconds = w.seconds;
  r.snug = w.snug != 0;
  return r;
}

bool write_all(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The next pair to run, shared by both processes: each takes the next one when it is free, so
// that a few long pairs do not leave one core idle at the end. It lives in memory that the fork
// shares; a lock-free atomic works across processes there.
using Handout = std::atomic<uint64_t>;
static_assert(Handout::is_always_lock_free);

Handout* shared_handout() {
  void* mem =
      ::mmap(nullptr, sizeof(Handout), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  return mem == MAP_FAILED ? nullptr : new (mem) Handout(0);
}

// The forked copy: the pairs it takes, each record written as it is done; never returns.
[[noreturn]] void run_copy(int fd, Handout& next,
                           const std::vector<std::pair<size_t, size_t>>& todo,
                           const std::function<PairRecord(size_t, size_t)>& run) {
  for (size_t k; (k = next.fetch_add(1)) < todo.size();) {
    const Wire w = wire_of(k, run(todo[k].first, todo[k].second));
    if (!write_all(fd, &w, sizeof w)) ::_exit(1);
  }
  ::close(fd);
  ::_exit(0);  // no destructors or exit handlers of the parent's objects
}

// Takes the records the copy has written so far (all of them when `wait`), into `out`.
size_t take_records(int fd, bool wait, std::vector<char>& buffer,
                    const std::vector<std::pair<size_t, size_t>>& todo,
                    std::vector<std::optional<PairRecord>>& out, bool& closed) {
  size_t taken = 0;
  while (!closed) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, wait ? -1 : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      closed = true;
      break;
    }
    buffer.insert(buffer.end(), chunk, chunk + n);
    while (buffer.size() >= sizeof(Wire)) {
      Wire w;
      std::memcpy(&w, buffer.data(), sizeof w);
      buffer.erase(buffer.begin(), buffer.begin() + sizeof w);
      if (w.slot < todo.size() && !out[w.slot]) out[w.slot] = record_of(w, todo[w.slot]), ++taken;
    }
  }
  return taken;
}

}  // namespace

std::optional<std::vector<PairRecord>> run_pairs_in_two_processes(
    const std::vector<std::pair<size_t, size_t>>& todo,
    const std::function<PairRecord(size_t, size_t)>& run,
    const std::function<void(size_t)>& progress) {
  Handout* next = shared_handout();
  if (!next) return std::nullopt;
  int fds[2];
  if (::pipe(fds) != 0) {
    ::munmap(next, sizeof(Handout));
    return std::nullopt;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    ::munmap(next, sizeof(Handout));
    return std::nullopt;
  }
  if (child == 0) {
    ::close(fds[0]);
    run_copy(fds[1], *next, todo, run);
  }
  ::close(fds[1]);
  std::vector<std::optional<PairRecord>> out(todo.size());
  std::vector<char> buffer;
  bool closed = false;
  size_t done = 0;
  for (size_t k; (k = next->fetch_add(1)) < todo.size();) {
    out[k] = run(todo[k].first, todo[k].second);
    done += 1 + take_records(fds[0], false, buffer, todo, out, closed);
    if (progress) progress(done);
  }
  take_records(fds[0], true, buffer, todo, out, closed);
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ::munmap(next, sizeof(Handout));
  std::vector<PairRecord> records;
  for (size_t k = 0; k < todo.size(); ++k) {
    // A pair the copy did not send (it failed) is run here.
    records.push_back(out[k] ? *out[k] : run(todo[k].first, todo[k].second));
  }
  if (progress) progress(todo.size());
  return records;
}

}  // namespace kestrel::assembly
