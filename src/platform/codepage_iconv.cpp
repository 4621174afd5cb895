#include <iconv.h>

#include <cerrno>

#include "platform/codepage.h"

namespace qorvel::platform {
namespace {

bool IsAscii(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// One descriptor per direction and thread: opening one costs far more than
// converting the settings file, which is read twice a second.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts in, replacing what cannot be converted as skip() decides.
  template <typename Skip>
  std::string run(std::string_view in, Skip skip) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 2 + 8);
    auto* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    std::size_t done = 0;
    while (src_left > 0) {
      char* dst = out.data() + done;
      std::size_t dst_left = out.size() - done;
      const std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
      done = out.size() - dst_left;
      if (r != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ or EINVAL: an invalid or cut-off character.
      const auto [replacement, bytes] = skip(std::string_view(src, src_left));
      out.resize(done);
      out += replacement;
      done = out.size();
      out.resize(done + src_left * 2 + 8);
      src += bytes;
      src_left -= bytes;
    }
    out.resize(done);
    return out;
  }

 private:
  iconv_t cd_;
};

struct Replacement {
  std::string_view text;
  std::size_t bytes;
};

}  // namespace

// Characters outside code page 936 become "?", one per UTF-16 unit, as
// WideCharToMultiByte writes them.
std::string utf8_to_cp936(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter converter("CP936", "UTF-8");
  return converter.run(utf8, [](std::string_view rest) {
    const auto lead = static_cast<unsigned char>(rest.front());
    std::size_t n = 1;
    if (lead >= 0xF0) n = 4;
    else if (lead >= 0xE0) n = 3;
    else if (lead >= 0xC0) n = 2;
    if (n > rest.size()) n = rest.size();
    return Replacement{lead >= 0xF0 ? "??" : "?", n};
  });
}

// Invalid bytes become "?". A lead byte followed by a NUL, as a cut section
// leaves it, becomes "?" and the NUL stays, as MultiByteToWideChar does.
std::string cp936_to_utf8(std::string_view cp936) {
  if (IsAscii(cp936)) return std::string(cp936);
  thread_local Converter converter("UTF-8", "CP936");
  return converter.run(cp936, [](std::string_view rest) {
    const auto lead = static_cast<unsigned char>(rest.front());
    const bool pair = lead >= 0x81 && lead <= 0xFE && rest.size() > 1 && rest[1] != '\0';
    return Replacement{"?", pair ? 2u : 1u};
  });
}

}  // namespace qorvel::platform
