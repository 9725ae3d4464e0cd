// The private per-user temporary directory.
#include "core/update/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace orvane {
namespace {

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "orvane-tmp-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    m_root = tmpl;
    Save("XDG_RUNTIME_DIR", m_runtime);
    Save("TMPDIR", m_tmpdir);
  }
  void TearDown() override {
    Restore("XDG_RUNTIME_DIR", m_runtime);
    Restore("TMPDIR", m_tmpdir);
  }
  static void Save(const char* name, std::pair<bool, std::string>& into) {
    const char* v = std::getenv(name);
    into = {v != nullptr, v ? v : ""};
  }
  static void Restore(const char* name, const std::pair<bool, std::string>& from) {
    if (from.first)
      ::setenv(name, from.second.c_str(), 1);
    else
      ::unsetenv(name);
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }

  std::string m_root;
  std::pair<bool, std::string> m_runtime, m_tmpdir;
};

TEST_F(TempDirTest, RuntimeDirectoryFirstThenTmpdir) {
  ::setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
  EXPECT_EQ(MakeTempPath("Tmp"), m_root + "/orvane/Tmp");
  EXPECT_EQ(ModeOf(m_root + "/orvane"), 0700u);

  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", (m_root + "/").c_str(), 1);
  const std::string expected = m_root + "/orvane-" + std::to_string(::geteuid()) + "/";
  EXPECT_EQ(PrivateTempDir(), expected);
  EXPECT_EQ(ModeOf(expected), 0700u);
}

TEST_F(TempDirTest, AnExistingDirectoryIsMadePrivate) {
  ::setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
  ASSERT_EQ(::mkdir((m_root + "/orvane").c_str(), 0755), 0);
  ASSERT_EQ(::chmod((m_root + "/orvane").c_str(), 0755), 0);
  EXPECT_EQ(PrivateTempDir(), m_root + "/orvane/");
  EXPECT_EQ(ModeOf(m_root + "/orvane"), 0700u);
}

TEST_F(TempDirTest, ASymlinkOrAFileAtTheNameIsRefused) {
  ::setenv("XDG_RUNTIME_DIR", m_root.c_str(), 1);
  const std::string elsewhere = m_root + "/elsewhere";
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), (m_root + "/orvane").c_str()), 0);
  std::string error;
  EXPECT_EQ(MakeTempPath("Tmp", &error), "");
  EXPECT_NE(error.find("orvane"), std::string::npos);

  ASSERT_EQ(::unlink((m_root + "/orvane").c_str()), 0);
  FILE* f = std::fopen((m_root + "/orvane").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  error.clear();
  EXPECT_EQ(PrivateTempDir(&error), "");
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace orvane
