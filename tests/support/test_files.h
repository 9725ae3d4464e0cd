// Whole-file reads and writes for tests.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace orvane::test {

inline std::string ReadWholeFile(const std::string& path) {
  std::string out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

inline void WriteWholeFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

inline bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace orvane::test
