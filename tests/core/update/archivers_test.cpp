// The archiver table, running programs without a shell, the built-in
// extractor and its refusals, and the search across rows.
#include "test_files.h"
#include "core/update/archivers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/update/file_helpers.h"
#include "sim/sample_archive.h"

namespace orvane {
namespace {

using sim::ArchiveItem;
using sim::FileItem;
using sim::LinkItem;
using Status = UnpackResult::Status;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

class ArchiversTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "orvane-arc-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    m_root = tmpl + "/";
    ASSERT_EQ(::mkdir((m_root + "outside").c_str(), 0700), 0);
    std::ofstream(m_root + "outside/precious") << "keep";
    m_dest = m_root + "work/TmpTmp";
    ASSERT_EQ(::mkdir((m_root + "work").c_str(), 0700), 0);
  }
  void TearDown() override { DeleteTree(m_root); }

  std::string Archive(const std::string& name, const std::vector<ArchiveItem>& items) {
    const std::string path = m_root + "work/" + name;
    std::string error;
    EXPECT_TRUE(sim::WriteArchive(path, items, &error)) << error;
    return path;
  }
  // A stand-in archiver: a script run as a program (no shell of ours).
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = m_root + "bin/" + name;
    ::mkdir((m_root + "bin").c_str(), 0700);
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }
  // Nothing appeared beside the work folder and nothing outside changed.
  void ExpectNothingOutside() {
    std::vector<DirEntry> top;
    const int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(ListFolderAt(fd, top));
    ::close(fd);
    for (const DirEntry& e : top)
      EXPECT_TRUE(e.name == "outside" || e.name == "work" || e.name == "bin") << e.name;
    EXPECT_EQ(test::ReadWholeFile(m_root + "outside/precious"), "keep");
    const int out = ::open((m_root + "outside").c_str(), O_RDONLY | O_DIRECTORY);
    std::vector<DirEntry> inside;
    ASSERT_TRUE(ListFolderAt(out, inside));
    ::close(out);
    EXPECT_EQ(inside.size(), 1u);
  }

  std::string m_root, m_dest;
  const ArchiverTable m_builtIn{{"", ArgumentForm::BuiltIn}};
};

TEST_F(ArchiversTest, RowsAreFoundOnPathWithTheirArgumentForms) {
  const std::string rar = Script("unrar", "exit 0");
  Script("7zz", "exit 0");
  std::ofstream(m_root + "bin/7z") << "not executable";
  const char* saved = std::getenv("PATH");
  const std::string old = saved ? saved : "";
  ::setenv("PATH", ("::relative:" + m_root + "bin").c_str(), 1);

  const ArchiverTable table = PlatformArchivers();
  ASSERT_EQ(table.size(), 4u);
  ArchiverCommand c;
  ASSERT_TRUE(FindArchiver(table, 0, "/d/TmpTmp", "/d/a b.rar", c));
  EXPECT_EQ(c.row, 0u);
  EXPECT_EQ(c.program, rar);
  EXPECT_EQ(c.arguments, (std::vector<std::string>{"x", "-o+", "-y", "/d/a b.rar", "*.*", "/d/TmpTmp/"}));
  ASSERT_TRUE(FindArchiver(table, 1, "/d/TmpTmp", "/d/a.7z", c));
  EXPECT_EQ(c.program, m_root + "bin/7zz");
  EXPECT_EQ(c.arguments, (std::vector<std::string>{"x", "/d/a.7z", "-aoa", "-y", "-o/d/TmpTmp"}));
  // 7z is there but cannot be run: the built-in row is next.
  ASSERT_TRUE(FindArchiver(table, 2, "/d/TmpTmp", "/d/a.7z", c));
  EXPECT_TRUE(c.builtIn);
  EXPECT_EQ(c.row, 3u);
  EXPECT_FALSE(FindArchiver(table, 4, "/d/TmpTmp", "/d/a.7z", c));
  EXPECT_FALSE(FindArchiver({{"no-such-archiver", ArgumentForm::Extract}}, 0, "/d", "/a.zip", c));
  ::setenv("PATH", old.c_str(), 1);
}

TEST_F(ArchiversTest, ProgramsGetTheirWordsAsTheyAreAndNoInput) {
  const std::string record = m_root + "args";
  const std::string program = Script(
      "record", "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record + "'\ncat > '" + m_root +
                    "stdin'\nexit 3");
  const std::vector<std::string> words = {"x", "a b.zip", "$(touch " + m_root + "pwned)", "; ls", "-o'q\"'"};
  int exitCode = -1;
  ASSERT_TRUE(RunAndWait(program, words, exitCode));
  EXPECT_EQ(exitCode, 3);
  std::string expected;
  for (const std::string& w : words) expected += w + "\n";
  EXPECT_EQ(test::ReadWholeFile(record), expected);
  EXPECT_FALSE(Exists(m_root + "pwned"));
  EXPECT_EQ(test::ReadWholeFile(m_root + "stdin"), "");

  EXPECT_FALSE(RunAndWait(m_root + "bin/missing", {}, exitCode));

  // A raised stop ends a program that would run on.
  std::atomic<bool> stop{false};
  const std::string sleeper = Script("sleeper", "sleep 30");
  std::thread raise([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(RunAndWait(sleeper, {}, exitCode, 0, &stop));
  raise.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_NE(exitCode, 0);
}

TEST_F(ArchiversTest, TheBuiltInExtractorUnpacksZipAnd7z) {
  const std::string body(70000, 'u');
  for (const char* name : {"pkg.zip", "pkg.7z"}) {
    const std::string archive = Archive(name, {{"data/", "", ArchiveItem::Kind::Folder, ""},
                                               FileItem("data/readme.txt", "hello"),
                                               FileItem("data/UPDATE.QZV", body),
                                               LinkItem("data/current", "UPDATE.QZV")});
    const UnpackResult r = UnpackUpdateArchive(m_builtIn, archive, m_dest);
    ASSERT_EQ(r.status, Status::Found) << name << ": " << r.detail;
    EXPECT_EQ(r.updateFile, m_dest + "/data/UPDATE.QZV");
    EXPECT_EQ(r.archiver, "built-in");
    EXPECT_EQ(test::ReadWholeFile(r.updateFile), body);
    EXPECT_EQ(test::ReadWholeFile(m_dest + "/data/readme.txt"), "hello");
  }
}

TEST_F(ArchiversTest, TheBuiltInExtractorUnpacksRar) {
  const std::string body(5000, 'r');
  const std::string archive = m_root + "work/pkg.rar";
  std::string error;
  ASSERT_TRUE(sim::WriteStoredRar(archive, {FileItem("notes.txt", "n"), FileItem("sub/Data.qzv", body)}, &error))
      << error;
  const UnpackResult r = UnpackUpdateArchive(m_builtIn, archive, m_dest);
  ASSERT_EQ(r.status, Status::Found) << r.detail;
  EXPECT_EQ(r.updateFile, m_dest + "/sub/Data.qzv");
  EXPECT_EQ(test::ReadWholeFile(r.updateFile), body);

  ASSERT_TRUE(sim::WriteStoredRar(archive, {FileItem("../evil.qzv", body)}, &error));
  EXPECT_EQ(UnpackUpdateArchive(m_builtIn, archive, m_dest).status, Status::NoUpdateFile);
  ExpectNothingOutside();
}

TEST_F(ArchiversTest, SeveralUpdateFilesFollowTheWalkOrder) {
  const std::string archive = Archive("pkg.zip", {FileItem("b.qzv", "top"), FileItem("a/x.qzv", "nested"),
                                                 FileItem("c/y.qzv", "never")});
  const UnpackResult r = UnpackUpdateArchive(m_builtIn, archive, m_dest);
  ASSERT_EQ(r.status, Status::Found) << r.detail;
  EXPECT_EQ(r.updateFile, m_dest + "/b.qzv");
}

TEST_F(ArchiversTest, HostileOrBrokenArchivesAreRefusedAndNothingLeavesTheFolder) {
  const std::string big(5000, 'b');
  struct Case {
    const char* label;
    std::vector<ArchiveItem> items;
    const char* detail;
    ExtractLimits limits;
  } cases[] = {
      {"dotdot", {FileItem("../evil.qzv", "x")}, "would leave", {}},
      {"inner dotdot", {FileItem("a/../../evil.qzv", "x")}, "would leave", {}},
      {"absolute", {FileItem(m_root + "evil.qzv", "x")}, "would leave", {}},
      {"absolute link", {LinkItem("link", m_root + "outside"), FileItem("link/evil.qzv", "x")}, "points out", {}},
      {"upward link", {LinkItem("up", "../../outside"), FileItem("up/evil.qzv", "x")}, "points out", {}},
      {"through a link", {LinkItem("in", "sub"), FileItem("in/x.qzv", "x")}, "passes through", {}},
      {"too large", {FileItem("x.qzv", big)}, "allowed size", {1000, 100, 8}},
      {"too many", {FileItem("1", ""), FileItem("2", ""), FileItem("3", ""), FileItem("x.qzv", "")},
       "too many", {1000, 3, 8}},
      {"too deep", {FileItem("a/b/c/d/x.qzv", "x")}, "too deep", {1000, 100, 3}},
      {"no update file", {FileItem("readme.txt", "x")}, "no .qzv file", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string archive = Archive("pkg.zip", c.items);
    const UnpackResult r = UnpackUpdateArchive(m_builtIn, archive, m_dest, c.limits);
    EXPECT_EQ(r.status, Status::NoUpdateFile);
    EXPECT_EQ(r.updateFile, "");
    EXPECT_NE(r.detail.find(c.detail), std::string::npos) << r.detail;
    EXPECT_FALSE(Exists(m_dest)) << "the extraction folder is removed";
    ExpectNothingOutside();
  }

  // A download that is no archive, and a zip cut in half.
  std::ofstream(m_root + "work/page.zip") << "<html>not found</html>";
  UnpackResult r = UnpackUpdateArchive(m_builtIn, m_root + "work/page.zip", m_dest);
  EXPECT_EQ(r.status, Status::NoUpdateFile);
  EXPECT_NE(r.detail.find("not a zip, 7z or rar archive"), std::string::npos) << r.detail;
  const std::string whole = test::ReadWholeFile(Archive("cut.zip", {FileItem("x.qzv", std::string(100000, 'z'))}));
  std::ofstream(m_root + "work/cut.zip", std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 2);
  r = UnpackUpdateArchive(m_builtIn, m_root + "work/cut.zip", m_dest);
  EXPECT_EQ(r.status, Status::NoUpdateFile) << r.detail;
  ExpectNothingOutside();
}

TEST_F(ArchiversTest, ARowThatLeavesNoUpdateFileHandsOverToTheNext) {
  const std::string archive = Archive("pkg.zip", {FileItem("x.qzv", "data")});
  const std::string noop = Script("noop", "exit 0");
  const std::string writer = Script("writer", "printf made > \"${5#-o}/made.qzv\"");

  UnpackResult r = UnpackUpdateArchive({{noop, ArgumentForm::Extract}, {"", ArgumentForm::BuiltIn}}, archive, m_dest);
  ASSERT_EQ(r.status, Status::Found) << r.detail;
  EXPECT_EQ(r.archiver, "built-in");
  EXPECT_EQ(test::ReadWholeFile(r.updateFile), "data");

  r = UnpackUpdateArchive({{writer, ArgumentForm::Extract}, {"", ArgumentForm::BuiltIn}}, archive, m_dest);
  ASSERT_EQ(r.status, Status::Found) << r.detail;
  EXPECT_EQ(r.archiver, writer);
  EXPECT_EQ(r.updateFile, m_dest + "/made.qzv");

  // Rows that exist but find nothing give "no update file"; no usable row at
  // all gives "no archiver".
  r = UnpackUpdateArchive({{noop, ArgumentForm::Extract}}, archive, m_dest);
  EXPECT_EQ(r.status, Status::NoUpdateFile);
  r = UnpackUpdateArchive({{m_root + "bin/none", ArgumentForm::Extract}, {"no-such-7z", ArgumentForm::Extract}},
                          archive, m_dest);
  EXPECT_EQ(r.status, Status::NoArchiver);
  EXPECT_FALSE(Exists(m_dest));
}

TEST_F(ArchiversTest, WhatAnExternalArchiverLeavesIsChecked) {
  const std::string archive = Archive("pkg.zip", {FileItem("x.qzv", "data")});
  struct Case {
    const char* label;
    std::string body;
  } cases[] = {
      {"link out", "D=\"${5#-o}\"; printf x > \"$D/x.qzv\"; ln -s '" + m_root + "outside' \"$D/out\""},
      {"upward link", "D=\"${5#-o}\"; printf x > \"$D/x.qzv\"; ln -s ../.. \"$D/up\""},
      {"second name outside", "D=\"${5#-o}\"; ln '" + m_root + "outside/precious' \"$D/x.qzv\""},
      {"fifo", "D=\"${5#-o}\"; printf x > \"$D/x.qzv\"; mkfifo \"$D/pipe\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string program = Script("fake", c.body);
    const UnpackResult r =
        UnpackUpdateArchive({{program, ArgumentForm::Extract}, {"", ArgumentForm::BuiltIn}}, archive, m_dest);
    EXPECT_EQ(r.status, Status::Refused) << r.detail;
    EXPECT_FALSE(Exists(m_dest));
    ExpectNothingOutside();
  }
  // Links that lead downwards only are fine.
  const std::string program =
      Script("fake", "D=\"${5#-o}\"; mkdir \"$D/s\"; printf x > \"$D/s/x.qzv\"; ln -s s/x.qzv \"$D/l\"");
  EXPECT_EQ(UnpackUpdateArchive({{program, ArgumentForm::Extract}}, archive, m_dest).status, Status::Found);
}

TEST_F(ArchiversTest, SevenZipUnpacksWhenInstalled) {
  ArchiverCommand c;
  if (!FindArchiver({{"7zz", ArgumentForm::Extract}}, 0, m_dest, "", c)) GTEST_SKIP() << "7zz is not installed";
  const ArchiverTable table{{"7zz", ArgumentForm::Extract}};
  for (const char* name : {"pkg.zip", "pkg.7z"}) {
    const std::string archive = Archive(name, {FileItem("dir/u.qzv", "seven")});
    const UnpackResult r = UnpackUpdateArchive(table, archive, m_dest);
    ASSERT_EQ(r.status, Status::Found) << name << ": " << r.detail;
    EXPECT_EQ(r.archiver, c.program);
    EXPECT_EQ(test::ReadWholeFile(r.updateFile), "seven");
  }
  // 7-Zip tames a hostile archive its own way (names cut back into the
  // folder); whatever it keeps stays inside.
  const std::string archive = Archive("bad.zip", {FileItem("../evil.qzv", "x"), LinkItem("up", "../../outside"),
                                                  FileItem("up/evil.qzv", "x")});
  const UnpackResult r = UnpackUpdateArchive(table, archive, m_dest);
  if (r.status == Status::Found) {
    EXPECT_EQ(r.updateFile.rfind(m_dest + "/", 0), 0u) << r.updateFile;
  }
  ExpectNothingOutside();
}

// Damage in transit: a stored update file with one byte flipped fails the
// archive's CRC. libarchive calls that a warning and 7-Zip exits with 2;
// neither may hand the damaged file on as the update file.
TEST_F(ArchiversTest, AnArchiveWithABadChecksumIsNeverUsed) {
  const std::string content(6000, 'q');
  const std::string path = m_root + "work/crc.zip";
  std::string error;
  ASSERT_TRUE(sim::WriteArchive(path, {FileItem("u.qzv", content)}, &error, /*stored=*/true)) << error;
  std::string bytes = test::ReadWholeFile(path);
  const size_t at = bytes.find(content);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 5000] ^= 0x01;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;

  std::vector<ArchiverTable> tables = {m_builtIn};
  ArchiverCommand c;
  if (FindArchiver({{"7zz", ArgumentForm::Extract}}, 0, m_dest, "", c))
    tables.push_back({{"7zz", ArgumentForm::Extract}, {"", ArgumentForm::BuiltIn}});
  for (const ArchiverTable& table : tables) {
    const UnpackResult r = UnpackUpdateArchive(table, path, m_dest);
    EXPECT_NE(r.status, Status::Found) << r.updateFile;
    EXPECT_NE(r.detail.find("corrupt"), std::string::npos) << r.detail;
  }
}

TEST(ArchiveType, LowerCaseExtensionsOnly) {
  EXPECT_TRUE(IsArchiveType("/t/a.zip"));
  EXPECT_TRUE(IsArchiveType("/t/a.rar"));
  EXPECT_TRUE(IsArchiveType("/t/a.7z"));
  EXPECT_TRUE(IsArchiveType("/t/azip"));  // the last characters decide
  EXPECT_FALSE(IsArchiveType("/t/a.RAR"));
  EXPECT_FALSE(IsArchiveType("/t/a.Zip"));
  EXPECT_FALSE(IsArchiveType("/t/a.txt"));
  EXPECT_FALSE(IsArchiveType(""));
}

}  // namespace
}  // namespace orvane
