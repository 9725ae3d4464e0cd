#include "core/util/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orvane {

namespace {

class Converter {
 public:
  Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~Converter() {
    if (Ok()) iconv_close(m_cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as possible; stops at the first byte it cannot convert
  // and leaves `in` there. False only when that happened.
  bool Run(std::string_view& in, std::string& out) {
    char buffer[256];
    while (!in.empty()) {
      char* src = const_cast<char*>(in.data());
      size_t srcLeft = in.size();
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      const size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, size_t(dst - buffer));
      in.remove_prefix(in.size() - srcLeft);
      if (r == size_t(-1) && errno != E2BIG) return false;
    }
    return true;
  }

 private:
  iconv_t m_cd;
};

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  Converter conv("UTF-8", "GBK");
  while (!gbk.empty()) {
    if (conv.Ok() && conv.Run(gbk, out)) break;
    if (gbk.empty()) break;
    char esc[8];
    std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(gbk.front()));
    out += esc;
    gbk.remove_prefix(1);
  }
  return out;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  Converter conv("GBK", "UTF-8");
  if (!conv.Ok()) return std::nullopt;
  std::string out;
  if (!conv.Run(utf8, out)) return std::nullopt;
  return out;
}

std::string_view ZeroTerminated(std::string_view field) {
  const size_t end = field.find('\0');
  return end == std::string_view::npos ? field : field.substr(0, end);
}

}  // namespace orvane
