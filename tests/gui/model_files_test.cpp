// The panel's file lists: which names of a folder are offered, and in which order.
#include "app/gl/model_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestrel::app {
namespace {

namespace fs = std::filesystem;

class ModelFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("kestrel_model_files_" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  void touch(const std::string& name) { std::ofstream(folder_ / name) << "0 0 0\n"; }

  fs::path folder_;
};

TEST_F(ModelFilesTest, GroupsObjThenVrtThenPctThenPly) {
  for (const char* name : {"f.ply", "c.pct", "a.vrt", "b.obj", "d.vrt", "e.obj"}) touch(name);
  const std::vector<std::string> names = list_model_files(folder_.string());
  ASSERT_EQ(names.size(), 6u);
  auto group = [](const std::string& n) { return n.substr(n.size() - 3); };
  const std::vector<std::string> order = {"obj", "obj", "vrt", "vrt", "pct", "ply"};
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(group(names[i]), order[i]) << names[i];
}

TEST_F(ModelFilesTest, LeavesOutTxtXyzOtherNamesAndFolders) {
  touch("scan.txt");
  touch("scan.xyz");
  touch("notes.md");
  touch("scan.vrt.bak");
  touch("SCAN.VRT");
  fs::create_directories(folder_ / "folder.obj");
  touch("kept.vrt");
  EXPECT_EQ(list_model_files(folder_.string()), std::vector<std::string>{"kept.vrt"});
}

TEST_F(ModelFilesTest, MissingFolderGivesEmptyList) {
  EXPECT_TRUE(list_model_files((folder_ / "absent").string()).empty());
}

}  // namespace
}  // namespace kestrel::app
