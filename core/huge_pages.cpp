#include "core/huge_pages.h"

#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrel::core {

namespace {

constexpr const char* kRestarted = "KESTREL_HUGE_PAGES";
constexpr const char* kTunable = "glibc.malloc.hugetlb";

// "always" or "madvise" is what the kernel says when a program may ask for huge pages.
bool kernel_offers_huge_pages() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string modes;
  std::getline(in, modes);
  return modes.find("[always]") != std::string::npos ||
         modes.find("[madvise]") != std::string::npos;
}

}  // namespace

void restart_with_huge_pages(char** argv) {
#if defined(__GLIBC__) && defined(__linux__)
  if (argv == nullptr || argv[0] == nullptr || std::getenv(kRestarted) != nullptr) return;
  const char* current = std::getenv("GLIBC_TUNABLES");
  std::string tunables = current ? current : "";
  if (tunables.find(kTunable) != std::string::npos || !kernel_offers_huge_pages()) return;
  tunables += (tunables.empty() ? "" : ":") + std::string(kTunable) + "=1";
  if (::setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0 || ::setenv(kRestarted, "1", 1) != 0)
    return;
  ::execv("/proc/self/exe", argv);
  // Still here: the restart failed, and the program runs as it was started.
  if (current) ::setenv("GLIBC_TUNABLES", current, 1);
  else ::unsetenv("GLIBC_TUNABLES");
#else
  (void)argv;
#endif
}

void keep_freed_blocks() {
#if defined(__GLIBC__)
  constexpr int kMiB = 1 << 20;
  ::mallopt(M_MMAP_THRESHOLD, 4 * kMiB);
  ::mallopt(M_TRIM_THRESHOLD, 8 * kMiB);
#endif
}

}  // namespace kestrel::core
