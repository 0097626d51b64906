#include "core/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace kestrel::core {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

const auto kText = [](std::ostream& out) { out << "new\n"; };

mode_t mode_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

std::vector<std::string> names_in(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// ---- what may be replaced ---------------------------------------------------------------------

// Each target that is not a regular file is refused, named with its kind, and left as it was.
TEST(AtomicFile, OnlyRegularFilesAreReplaced) {
  ScratchDir dir;
  fs::create_directory(dir.file("folder"));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
  fs::create_symlink(dir.file("missing"), dir.file("dangling"));
  fs::create_symlink("fifo", dir.file("to_fifo"));
  const bool device = mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"folder", "it is a folder"}, {"fifo", "it is a FIFO"},
      {"to_fifo", "it is a FIFO"},  {"dangling", "a symbolic link to a missing file"},
      {"null", "it is a device"},
  };
  for (const auto& c : cases) {
    if (std::string(c.name) == "null" && !device) {
      std::printf("device target skipped: mknod needs root\n");
      continue;
    }
    const mode_t before = mode_of(dir.file(c.name));
    std::string error;
    EXPECT_FALSE(write_file_atomically(dir.file(c.name), kText, &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(mode_of(dir.file(c.name)), before) << c.name;
  }
  EXPECT_FALSE(fs::exists(dir.file("missing")));
  for (const std::string& name : names_in(dir))
    EXPECT_EQ(name.rfind(".kestrel-write-", 0), std::string::npos) << name;
}

TEST(AtomicFile, ReplacedFileKeepsItsModeAndLinksAreWrittenThrough) {
  ScratchDir dir;
  const std::string own = dir.write("own.txt", "old\n");
  ASSERT_EQ(chmod(own.c_str(), 0600), 0);
  fs::create_symlink("own.txt", dir.file("link.txt"));
  ASSERT_TRUE(write_file_atomically(dir.file("link.txt"), kText));
  EXPECT_TRUE(fs::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(ScratchDir::read(own), "new\n");
  EXPECT_EQ(mode_of(own) & 07777, 0600u);
  ASSERT_TRUE(write_file_atomically(dir.file("fresh.txt"), kText));
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(mode_of(dir.file("fresh.txt")) & 07777, 0666u & ~mask);
}

// ---- all or none ------------------------------------------------------------------------------

TEST(AtomicFile, BatchWritesAllOrNone) {
  ScratchDir dir;
  dir.write("a.txt", "old a\n");
  fs::create_directory(dir.file("b.txt"));
  {
    FileBatch batch;
    ASSERT_TRUE(batch.add(dir.file("a.txt"), kText));
    std::string error;
    EXPECT_FALSE(batch.add(dir.file("b.txt"), kText, &error));
  }  // dropped uncommitted
  EXPECT_EQ(ScratchDir::read(dir.file("a.txt")), "old a\n");
  EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.txt", "b.txt"}));

  FileBatch batch;
  ASSERT_TRUE(batch.add(dir.file("a.txt"), kText));
  ASSERT_TRUE(batch.add(dir.file("c.txt"), kText));
  EXPECT_EQ(ScratchDir::read(dir.file("a.txt")), "old a\n");  // nothing replaced before commit
  ASSERT_TRUE(batch.commit());
  EXPECT_EQ(ScratchDir::read(dir.file("a.txt")), "new\n");
  EXPECT_EQ(ScratchDir::read(dir.file("c.txt")), "new\n");
}

// A killed writer's temporaries go with the next write into their folder; a live writer's stay.
TEST(AtomicFile, LeftoversOfKilledWritersAreSweptAndLiveOnesKept) {
  ScratchDir dir;
  const std::string mine = ".kestrel-write-" + std::to_string(getpid()) + "-AAAAAA";
  const std::string parent = ".kestrel-write-" + std::to_string(getppid()) + "-BBBBBB";
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string killed = ".kestrel-write-" + std::to_string(dead) + "-CCCCCC";
  for (const std::string& name : {mine, parent, killed, std::string(".kestrel-write-DDDDDD"),
                                  std::string(".kestrel-write-EEEEEE")})
    dir.write(name, "partial");
  struct utimbuf old {
    1000, 1000
  };  // a temporary of an older build, long untouched
  ASSERT_EQ(utime(dir.file(".kestrel-write-DDDDDD").c_str(), &old), 0);
  ASSERT_TRUE(write_file_atomically(dir.file("r.txt"), kText));
  std::vector<std::string> expected = {mine, parent, ".kestrel-write-EEEEEE", "r.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names_in(dir), expected);
}

}  // namespace
}  // namespace kestrel::core
