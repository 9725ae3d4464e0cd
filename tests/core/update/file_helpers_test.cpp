// The walk for the update file and the removal of folder trees.
#include "core/update/file_helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace orvane {
namespace {

class FileHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "orvane-files-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    m_root = tmpl + "/";
  }
  void TearDown() override { DeleteTree(m_root); }

  void Dir(const std::string& rel) { ASSERT_EQ(::mkdir((m_root + rel).c_str(), 0700), 0) << rel; }
  void File(const std::string& rel, const std::string& data = "x") {
    FILE* f = std::fopen((m_root + rel).c_str(), "wb");
    ASSERT_NE(f, nullptr) << rel;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  }
  // The walk with IsUpdateFile, recording every callback call.
  std::string Search(std::vector<std::string>* seen = nullptr, int* count = nullptr) {
    std::string result;
    const int n = FindFiles(
        m_root + "TmpTmp",
        [seen](const std::string& path, uint32_t attributes, std::string& r) {
          if (seen) seen->push_back(path);
          return IsUpdateFile(path, attributes, r);
        },
        true, result);
    if (count) *count = n;
    return result;
  }

  std::string m_root;
};

TEST_F(FileHelpersTest, IsUpdateFileLooksAtTheWholePathsExtension) {
  struct Case {
    std::string path;
    uint32_t attributes;
    bool match;
  } cases[] = {
      {"/t/DATA.QZV", 0, true},       {"/t/a.b/data.qzv", 0, true},     {"/t/data.qzv.bak", 0, false},
      {"/t/qzv", 0, false},           {"/t.d/qzv", 0, false},           {"/t/x.qzv", kAttrDirectory, false},
      {"/t/x.qzv", kAttrSymlink, false}, {"/t/x.qzv", kAttrOther, false}, {"/t/x.qz", 0, false},
  };
  for (const Case& c : cases) {
    std::string result = "unchanged";
    EXPECT_EQ(IsUpdateFile(c.path, c.attributes, result), c.match ? 1 : 0) << c.path;
    EXPECT_EQ(result, c.match ? c.path : "unchanged") << c.path;
  }
}

TEST_F(FileHelpersTest, AFolderListedBeforeTheFileIsSearchedFirstAndTheLastFindWins) {
  Dir("TmpTmp");
  Dir("TmpTmp/a");
  File("TmpTmp/a/x.qzv");
  File("TmpTmp/b.qzv");
  File("TmpTmp/c.qzv");  // after the stop: never seen
  std::vector<std::string> seen;
  int count = 0;
  EXPECT_EQ(Search(&seen, &count), m_root + "TmpTmp/b.qzv");
  EXPECT_EQ(seen, (std::vector<std::string>{m_root + "TmpTmp/a/x.qzv", m_root + "TmpTmp/b.qzv"}));
  EXPECT_EQ(count, 2);
}

TEST_F(FileHelpersTest, AFolderListedAfterTheFileIsNeverSearched) {
  Dir("TmpTmp");
  File("TmpTmp/b.qzv");
  Dir("TmpTmp/c");
  File("TmpTmp/c/x.qzv");
  std::vector<std::string> seen;
  EXPECT_EQ(Search(&seen), m_root + "TmpTmp/b.qzv");
  EXPECT_EQ(seen, (std::vector<std::string>{m_root + "TmpTmp/b.qzv"}));
}

TEST_F(FileHelpersTest, CountsAndFoldersThatCannotBeListed) {
  Dir("TmpTmp");
  std::string result;
  std::vector<std::pair<std::string, uint32_t>> seen;
  auto record = [&seen](const std::string& p, uint32_t a, std::string&) {
    seen.emplace_back(p, a);
    return 0;
  };
  // Without recursion the folder's own "." and ".." reach the callback.
  EXPECT_EQ(FindFiles(m_root + "TmpTmp", record, false, result), 2);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(m_root + "TmpTmp/.", kAttrDirectory));
  EXPECT_EQ(FindFiles(m_root + "TmpTmp/", record, true, result), 0);
  EXPECT_EQ(FindFiles(m_root + "missing", record, true, result), -1);
  EXPECT_EQ(FindFiles("", record, true, result), -1);
  EXPECT_EQ(result, "");

  // Files in subfolders count; a link to a folder is handed over, not entered.
  Dir("TmpTmp/s");
  File("TmpTmp/s/one");
  File("TmpTmp/two");
  Dir("outside");
  File("outside/evil.qzv");
  ASSERT_EQ(::symlink((m_root + "outside").c_str(), (m_root + "TmpTmp/link").c_str()), 0);
  ASSERT_EQ(::symlink((m_root + "outside/evil.qzv").c_str(), (m_root + "TmpTmp/z.qzv").c_str()), 0);
  seen.clear();
  EXPECT_EQ(FindFiles(m_root + "TmpTmp", record, true, result), 4);
  EXPECT_EQ(seen[0], std::make_pair(m_root + "TmpTmp/link", kAttrSymlink));
  EXPECT_EQ(Search(), "") << "a link is never the update file";
}

TEST_F(FileHelpersTest, FileExists) {
  File("f");
  Dir("d");
  EXPECT_TRUE(FileExists(m_root + "f"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(m_root + "missing"));
  EXPECT_FALSE(FileExists(m_root + "d"));
}

TEST_F(FileHelpersTest, DeleteTreeRemovesLinksNotTheirTargets) {
  Dir("keep");
  File("keep/precious");
  Dir("tree");
  Dir("tree/sub");
  File("tree/sub/f");
  ASSERT_EQ(::symlink((m_root + "keep").c_str(), (m_root + "tree/sub/link").c_str()), 0);
  ASSERT_EQ(::symlink((m_root + "keep").c_str(), (m_root + "toplink").c_str()), 0);

  DeleteTree(m_root + "tree/");
  EXPECT_FALSE(Exists(m_root + "tree"));
  DeleteTree(m_root + "toplink");
  EXPECT_FALSE(Exists(m_root + "toplink"));
  EXPECT_TRUE(Exists(m_root + "keep/precious"));
  DeleteTree(m_root + "never-there");  // harmless
  DeleteTree("");
}

// Paths far beyond PATH_MAX: built and walked through descriptors.
TEST_F(FileHelpersTest, PathsLongerThanAnyBufferWork) {
  Dir("TmpTmp");
  const std::string name(200, 'd');
  int fd = ::open((m_root + "TmpTmp").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::string expected = m_root + "TmpTmp";
  for (int level = 0; level < 30; ++level) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    expected += "/" + name;
  }
  const int file = ::openat(fd, "deep.QZV", O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(file, 0);
  ::close(file);
  ::close(fd);
  expected += "/deep.QZV";
  ASSERT_GT(expected.size(), 4096u);

  EXPECT_EQ(Search(), expected);
  DeleteTree(m_root + "TmpTmp");
  EXPECT_FALSE(Exists(m_root + "TmpTmp"));
}

}  // namespace
}  // namespace orvane
