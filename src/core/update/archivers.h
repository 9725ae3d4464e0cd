// Unpacking update archives: a per-platform table of archivers tried in
// order (external programs found on PATH, then the built-in extractor on
// libarchive), the start of a program without a shell, and the search of the
// unpacked tree for the update file.
//
// Nothing is written outside the extraction folder by the built-in
// extractor: entry names must be relative without "..", every folder on the
// way is opened without following links, links may point only downwards, and
// the bytes and entries written are bounded. What an external program leaves
// is checked the same way before anything in it is used.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

inline constexpr const char* kVerdictNoArchiver =
    "没有发现解压工具，不能解压（目前只支持“WinRar\\好压\\7zip”，请自解压再选定本地路径或安装WinRar再运行该程序！";
inline constexpr const char* kVerdictNoUpdateFile = "没有找到升级文件！";
inline constexpr const char* kPhaseTextUnpacking = "正在解压数据...";

enum class ArgumentForm {
  WinRar,   // x -o+ -y ARCHIVE *.* DEST/
  Extract,  // x ARCHIVE -aoa -y -oDEST
  BuiltIn,  // no program: the libarchive extractor
};

struct ArchiverRow {
  std::string program;  // a name looked up on PATH, or a path with a "/"
  ArgumentForm form = ArgumentForm::BuiltIn;
};
using ArchiverTable = std::vector<ArchiverRow>;

// This platform's table: unrar, 7zz, 7z, then the built-in extractor.
ArchiverTable PlatformArchivers();

// Bounds of one unpacking; an archive beyond them is refused.
struct ExtractLimits {
  uint64_t maxBytes = uint64_t(1) << 30;  // all files together
  uint32_t maxEntries = 20000;
  uint32_t maxDepth = 64;  // folder levels below the extraction folder
};

// The program and arguments of one row, ready to run.
struct ArchiverCommand {
  size_t row = 0;
  std::string program;  // full path; empty for the built-in extractor
  std::vector<std::string> arguments;
  bool builtIn = false;
};

// The first usable row at or after `fromRow`: a program that is found and
// executable, or the built-in extractor. False when none is usable.
bool FindArchiver(const ArchiverTable& table, size_t fromRow, const std::string& destination,
                  const std::string& archive, ArchiverCommand& out);

// Runs `program` with `arguments` (no shell: the words go to the program as
// they are), stdin from /dev/null, output discarded, in a session of its own,
// and waits for its end. Each file it writes is bounded by `maxFileBytes`
// (0: unbounded). A raised `stop` ends the program. False when it could not
// be started.
bool RunAndWait(const std::string& program, const std::vector<std::string>& arguments, int& exitCode,
                uint64_t maxFileBytes = 0, const std::atomic<bool>* stop = nullptr);

// The built-in extractor: unpacks a zip, 7z or rar archive into the existing
// folder `destination`. False with `error` when the archive is unreadable,
// corrupt, beyond the limits or has an entry that would leave the folder;
// what was written by then stays for the caller to remove.
bool ExtractArchive(const std::string& archive, const std::string& destination, const ExtractLimits& limits,
                    std::string& error, const std::atomic<bool>* stop = nullptr);

// Checks a tree left by an external archiver: no link pointing upwards or
// out, no special files, no file with a link outside the tree, and within
// the limits. False with `error` otherwise.
bool CheckExtractedTree(const std::string& folder, const ExtractLimits& limits, std::string& error);

// Whether the archive's type is one the job unpacks: the path ends in "rar",
// "zip" or "7z", lower case only.
bool IsArchiveType(const std::string& archivePath);

struct UnpackResult {
  enum class Status { Found, NoArchiver, NoUpdateFile, Refused };
  Status status = Status::NoArchiver;
  std::string updateFile;  // with Found
  std::string archiver;    // the program (or "built-in") that unpacked it
  std::string detail;      // why nothing usable came out
};

// Unpacks `archive` into `destination` with the first usable row and looks
// for the update file; when a row leaves none, the extraction folder is
// emptied and the next usable row is tried. The folder is made afresh (a
// stale one is removed first). A refused archive ends the search at once.
UnpackResult UnpackUpdateArchive(const ArchiverTable& table, const std::string& archive,
                                 const std::string& destination, const ExtractLimits& limits = {},
                                 const std::atomic<bool>* stop = nullptr);

}  // namespace orvane
