#include "core/update/archivers.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <utility>

#include "core/update/file_helpers.h"

namespace orvane {

namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr size_t kReadBlock = 1 << 20;

// Closes a descriptor at the end of its scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  void Reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

bool Raised(const std::atomic<bool>* stop) { return stop && stop->load(); }

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Splits a relative path into its components, "." and empty ones dropped.
// False for an absolute path, a ".." anywhere, or nothing left.
bool SplitRelative(const std::string& path, std::vector<std::string>& parts) {
  parts.clear();
  if (path.empty() || path[0] == '/') return false;
  size_t pos = 0;
  while (pos <= path.size()) {
    const size_t slash = path.find('/', pos);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    const std::string part = path.substr(pos, end - pos);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.push_back(part);
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  return !parts.empty();
}

// A link target that can only lead downwards from the link's own folder, so
// no chain of such links can reach outside the tree.
bool IsDownwardLink(const std::string& target) {
  std::vector<std::string> parts;
  return SplitRelative(target, parts);
}

std::string ResolveProgram(const std::string& name) {
  auto usable = [](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
  };
  if (name.find('/') != std::string::npos) return usable(name) ? name : std::string();
  const char* env = std::getenv("PATH");
  const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= path.size()) {
    const size_t colon = path.find(':', pos);
    const std::string dir = path.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    // An empty entry would mean the working directory: never looked in.
    if (!dir.empty() && dir[0] == '/') {
      const std::string candidate = dir + (dir.back() == '/' ? "" : "/") + name;
      if (usable(candidate)) return candidate;
    }
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return std::string();
}

// The folder that holds the last of `parts`, reached from `root` one level at
// a time without following links; missing folders are made when `create`.
int OpenParent(int root, const std::vector<std::string>& parts, bool create, std::string& error) {
  int fd = ::dup(root);
  if (fd < 0) {
    error = SystemError("dup");
    return -1;
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (create && ::mkdirat(fd, parts[i].c_str(), 0700) != 0 && errno != EEXIST) {
      error = SystemError("cannot create folder " + parts[i]);
      ::close(fd);
      return -1;
    }
    const int next = ::openat(fd, parts[i].c_str(), kOpenFolder);
    ::close(fd);
    if (next < 0) {
      error = "an entry passes through \"" + parts[i] + "\", which is not a folder";
      return -1;
    }
    fd = next;
  }
  return fd;
}

struct ReadArchiveDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};

// Writes the current entry's data to `fd`; counts the bytes against `budget`.
bool CopyData(archive* a, int fd, uint64_t& budget, std::string& error, const std::atomic<bool>* stop) {
  const void* block = nullptr;
  size_t size = 0;
  la_int64_t offset = 0;
  int64_t end = 0;
  for (;;) {
    const int r = archive_read_data_block(a, &block, &size, &offset);
    if (r == ARCHIVE_EOF) break;
    // libarchive reports a failed CRC as a warning: data that does not match
    // its checksum is never taken as an update file.
    if (r != ARCHIVE_OK) {
      error = std::string("corrupt archive: ") + (archive_error_string(a) ? archive_error_string(a) : "read error");
      return false;
    }
    if (Raised(stop)) {
      error = "stopped";
      return false;
    }
    if (size > budget || offset < 0) {
      error = "the archive unpacks to more than the allowed size";
      return false;
    }
    budget -= size;
    const char* p = static_cast<const char*>(block);
    size_t left = size;
    off_t at = offset;
    while (left > 0) {
      const ssize_t n = ::pwrite(fd, p, left, at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = SystemError("cannot write");
        return false;
      }
      p += n;
      at += n;
      left -= size_t(n);
    }
    end = std::max<int64_t>(end, offset + int64_t(size));
  }
  // A sparse tail has no block of its own.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size < end && ::ftruncate(fd, end) != 0) {
    error = SystemError("cannot write");
    return false;
  }
  return true;
}

// Unpacks the current entry below `root`.
bool ExtractEntry(archive* a, archive_entry* entry, int root, const ExtractLimits& limits, uint64_t& budget,
                  std::string& error, const std::atomic<bool>* stop) {
  const char* rawName = archive_entry_pathname(entry);
  const std::string name = rawName ? rawName : "";
  std::vector<std::string> parts;
  if (!SplitRelative(name, parts)) {
    if (!name.empty() && name != "." && name != "./") {
      error = "entry \"" + name + "\" would leave the extraction folder";
      return false;
    }
    return archive_read_data_skip(a) >= ARCHIVE_WARN;  // the folder itself
  }
  if (parts.size() > limits.maxDepth) {
    error = "entry \"" + name + "\" lies too deep";
    return false;
  }
  const char* hardlink = archive_entry_hardlink(entry);
  const mode_t type = archive_entry_filetype(entry);
  if (!hardlink && type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
    error = "entry \"" + name + "\" is not a file, folder or link";
    return false;
  }
  std::vector<std::string> targetParts;
  if (hardlink && !SplitRelative(hardlink, targetParts)) {
    error = "link \"" + name + "\" points out of the extraction folder";
    return false;
  }
  const char* symlink = type == AE_IFLNK ? archive_entry_symlink(entry) : nullptr;
  if (type == AE_IFLNK && !hardlink && (!symlink || !IsDownwardLink(symlink))) {
    error = "link \"" + name + "\" points out of the extraction folder";
    return false;
  }
  if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0 &&
      uint64_t(archive_entry_size(entry)) > budget) {
    error = "the archive unpacks to more than the allowed size";
    return false;
  }

  Fd parent(OpenParent(root, parts, true, error));
  if (parent.Get() < 0) return false;
  const char* base = parts.back().c_str();

  if (hardlink) {
    Fd from(OpenParent(root, targetParts, false, error));
    if (from.Get() < 0) return false;
    ::unlinkat(parent.Get(), base, 0);
    if (::linkat(from.Get(), targetParts.back().c_str(), parent.Get(), base, 0) != 0) {
      error = SystemError("cannot link " + name);
      return false;
    }
    return archive_read_data_skip(a) >= ARCHIVE_WARN;
  }
  if (type == AE_IFDIR) {
    if (::mkdirat(parent.Get(), base, 0700) != 0 && errno != EEXIST) {
      error = SystemError("cannot create folder " + name);
      return false;
    }
    Fd check(::openat(parent.Get(), base, kOpenFolder));
    if (check.Get() < 0) {
      error = "entry \"" + name + "\" is in the way of a folder";
      return false;
    }
    return archive_read_data_skip(a) >= ARCHIVE_WARN;
  }
  if (type == AE_IFLNK) {
    ::unlinkat(parent.Get(), base, 0);
    if (::symlinkat(symlink, parent.Get(), base) != 0) {
      error = SystemError("cannot create link " + name);
      return false;
    }
    return archive_read_data_skip(a) >= ARCHIVE_WARN;
  }
  // A later entry of the same name replaces the earlier one; a link in its
  // place is never followed.
  ::unlinkat(parent.Get(), base, 0);
  Fd file(::openat(parent.Get(), base, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.Get() < 0) {
    error = SystemError("cannot create " + name);
    return false;
  }
  return CopyData(a, file.Get(), budget, error, stop);
}

struct TreeCheck {
  explicit TreeCheck(const ExtractLimits& l) : limits(l) {}
  const ExtractLimits& limits;
  uint64_t bytes = 0;
  uint32_t entries = 0;
  // Files with several names: the names found inside the tree.
  std::map<std::pair<dev_t, ino_t>, std::pair<nlink_t, nlink_t>> links;
  std::string error;

  bool Walk(int dirfd, const std::string& rel, uint32_t depth) {
    std::vector<DirEntry> list;
    if (!ListFolderAt(dirfd, list)) return Fail("cannot list " + rel);
    for (const DirEntry& e : list) {
      const std::string path = rel + e.name;
      if (++entries > limits.maxEntries) return Fail("too many entries");
      struct stat st {};
      if (::fstatat(dirfd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail("cannot inspect " + path);
      if (S_ISDIR(st.st_mode)) {
        if (depth + 1 > limits.maxDepth) return Fail("\"" + path + "\" lies too deep");
        Fd sub(::openat(dirfd, e.name.c_str(), kOpenFolder));
        if (sub.Get() < 0 || !Walk(sub.Get(), path + "/", depth + 1)) return error.empty() ? Fail("cannot open " + path) : false;
      } else if (S_ISLNK(st.st_mode)) {
        std::string target(size_t(st.st_size) + 1, '\0');
        const ssize_t n = ::readlinkat(dirfd, e.name.c_str(), target.data(), target.size());
        if (n < 0 || size_t(n) >= target.size()) return Fail("cannot read link " + path);
        target.resize(size_t(n));
        if (!IsDownwardLink(target)) return Fail("link \"" + path + "\" points out of the extraction folder");
      } else if (S_ISREG(st.st_mode)) {
        bytes += uint64_t(st.st_size);
        if (bytes > limits.maxBytes) return Fail("the archive unpacks to more than the allowed size");
        if (st.st_nlink > 1) {
          auto& seen = links[{st.st_dev, st.st_ino}];
          seen.first = st.st_nlink;
          ++seen.second;
        }
      } else {
        return Fail("\"" + path + "\" is not a file, folder or link");
      }
    }
    return true;
  }
  bool Fail(const std::string& text) {
    error = text;
    return false;
  }
};

}  // namespace

ArchiverTable PlatformArchivers() {
  return {{"unrar", ArgumentForm::WinRar},
          {"7zz", ArgumentForm::Extract},
          {"7z", ArgumentForm::Extract},
          {"", ArgumentForm::BuiltIn}};
}

bool FindArchiver(const ArchiverTable& table, size_t fromRow, const std::string& destination,
                  const std::string& archive, ArchiverCommand& out) {
  for (size_t row = fromRow; row < table.size(); ++row) {
    const ArchiverRow& r = table[row];
    out = ArchiverCommand{};
    out.row = row;
    if (r.form == ArgumentForm::BuiltIn) {
      out.builtIn = true;
      return true;
    }
    out.program = ResolveProgram(r.program);
    if (out.program.empty()) continue;
    if (r.form == ArgumentForm::WinRar)
      out.arguments = {"x", "-o+", "-y", archive, "*.*", destination + "/"};
    else
      out.arguments = {"x", archive, "-aoa", "-y", "-o" + destination};
    return true;
  }
  return false;
}

bool RunAndWait(const std::string& program, const std::vector<std::string>& arguments, int& exitCode,
                uint64_t maxFileBytes, const std::atomic<bool>* stop) {
  // Everything the child needs is made before fork: after it, only calls
  // that are safe in a copy of a threaded process.
  std::vector<std::string> words;
  words.push_back(program);
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  sigset_t none;
  sigemptyset(&none);
  rlimit fileLimit{rlim_t(maxFileBytes), rlim_t(maxFileBytes)};

  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (pid == 0) {
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    // Descriptors of other threads (sockets, the device) stay with us.
    ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGXFSZ, SIG_DFL);
    if (maxFileBytes > 0) ::setrlimit(RLIMIT_FSIZE, &fileLimit);
    ::execv(argv[0], argv.data());
    const int err = errno;
    ssize_t ignored = ::write(report[1], &err, sizeof err);
    (void)ignored;
    ::_exit(127);
  }
  ::close(report[1]);
  int childErr = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childErr, sizeof childErr);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);

  int status = 0;
  bool killed = false;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, stop ? WNOHANG : 0);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) return false;
    if (r == 0) {
      if (!killed && Raised(stop)) {
        // The whole group, helpers included; the child alone if it has not
        // made its group yet.
        if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
        killed = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (n == ssize_t(sizeof childErr)) return false;  // exec failed
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return true;
}

bool ExtractArchive(const std::string& archivePath, const std::string& destination, const ExtractLimits& limits,
                    std::string& error, const std::atomic<bool>* stop) {
  // Written through descriptors of our own rather than archive_write_disk,
  // which changes the process's umask and, for deep paths, its working
  // folder: both shared with the other threads of a front end.
  Fd root(::open(destination.c_str(), kOpenFolder));
  if (root.Get() < 0) {
    error = SystemError("cannot open " + destination);
    return false;
  }
  Fd input(::open(archivePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (input.Get() < 0) {
    error = SystemError("cannot open " + archivePath);
    return false;
  }
  std::unique_ptr<archive, ReadArchiveDeleter> a(archive_read_new());
  if (!a) {
    error = "out of memory";
    return false;
  }
  archive_read_support_format_zip(a.get());
  archive_read_support_format_7zip(a.get());
  archive_read_support_format_rar(a.get());
  archive_read_support_format_rar5(a.get());
  if (archive_read_open_fd(a.get(), input.Get(), kReadBlock) != ARCHIVE_OK) {
    error = std::string("not a zip, 7z or rar archive: ") + (archive_error_string(a.get()) ? archive_error_string(a.get()) : "");
    return false;
  }
  uint64_t budget = limits.maxBytes;
  uint32_t entries = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(a.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    // A warning (a name in another character set, say) still gives the entry.
    if (r < ARCHIVE_WARN) {
      error = std::string("corrupt archive: ") +
              (archive_error_string(a.get()) ? archive_error_string(a.get()) : "unreadable header");
      return false;
    }
    if (++entries > limits.maxEntries) {
      error = "the archive has too many entries";
      return false;
    }
    if (Raised(stop)) {
      error = "stopped";
      return false;
    }
    if (!ExtractEntry(a.get(), entry, root.Get(), limits, budget, error, stop)) return false;
  }
  return true;
}

bool CheckExtractedTree(const std::string& folder, const ExtractLimits& limits, std::string& error) {
  Fd root(::open(folder.c_str(), kOpenFolder));
  if (root.Get() < 0) {
    error = SystemError("cannot open " + folder);
    return false;
  }
  TreeCheck check(limits);
  if (!check.Walk(root.Get(), "", 0)) {
    error = check.error;
    return false;
  }
  for (const auto& [inode, seen] : check.links) {
    if (seen.second < seen.first) {
      error = "a file of the tree has a name outside it";
      return false;
    }
  }
  return true;
}

bool IsArchiveType(const std::string& path) {
  auto endsWith = [&path](const char* tail) {
    const size_t n = std::strlen(tail);
    return path.size() >= n && path.compare(path.size() - n, n, tail) == 0;
  };
  return endsWith("rar") || endsWith("zip") || endsWith("7z");
}

UnpackResult UnpackUpdateArchive(const ArchiverTable& table, const std::string& archive,
                                 const std::string& destination, const ExtractLimits& limits,
                                 const std::atomic<bool>* stop) {
  UnpackResult result;
  ArchiverCommand command;
  if (!FindArchiver(table, 0, destination, archive, command)) return result;
  result.status = UnpackResult::Status::NoUpdateFile;
  for (;;) {
    // Whatever an earlier job or row left there is never searched.
    DeleteTree(destination);
    if (::mkdir(destination.c_str(), 0700) != 0) {
      result.detail = SystemError("cannot create " + destination);
      return result;
    }
    std::string error;
    bool unpacked;
    const std::string name = command.builtIn ? "built-in" : command.program;
    if (command.builtIn) {
      unpacked = ExtractArchive(archive, destination, limits, error, stop);
    } else {
      int exitCode = 0;
      unpacked = RunAndWait(command.program, command.arguments, exitCode, limits.maxBytes, stop);
      if (!unpacked) {
        error = "cannot start " + command.program;
      } else if (exitCode != 0) {
        // A failed CRC or a cut-off archive: what it left is not trusted.
        unpacked = false;
        error = "exited with code " + std::to_string(exitCode);
      } else if (!CheckExtractedTree(destination, limits, error)) {
        DeleteTree(destination);
        result.status = UnpackResult::Status::Refused;
        result.detail = name + ": " + error;
        return result;
      }
    }
    if (unpacked) {
      std::string found;
      FindFiles(destination, IsUpdateFile, true, found);
      if (!found.empty()) {
        result.status = UnpackResult::Status::Found;
        result.updateFile = found;
        result.archiver = name;
        result.detail.clear();
        return result;
      }
      error = "no ." + std::string(kUpdateFileExtension) + " file in the archive";
    }
    result.detail = name + ": " + error;
    if (Raised(stop) || !FindArchiver(table, command.row + 1, destination, archive, command)) break;
  }
  DeleteTree(destination);
  return result;
}

}  // namespace orvane
