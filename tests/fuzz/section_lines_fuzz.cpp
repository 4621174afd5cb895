// The settings readers on arbitrary bytes: a section buffer as any profile
// layer might fill it (cut, without its NULs, with stray NULs), the value
// field of any line, and Val of any text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/module1.h"

namespace {

using std::string_view;
struct BufferProfile final : qorvel::platform::ProfileFile {
  std::string buffer;
  std::string get_section(string_view, std::size_t, string_view) override { return buffer; }
  bool write_string(string_view, string_view, std::optional<string_view>, string_view) override { return false; }
};

void Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "invariant broken: %s\n", what), std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string text = in.ConsumeRandomLengthString();
  BufferProfile profile;
  profile.buffer = in.ConsumeRemainingBytesAsString();

  // The lines are the buffer's leading NUL-ended pieces, up to the first
  // empty one, in order.
  std::string joined;
  for (const auto& line : qorvel::store::ReadProfileSection(profile, "HOUR", qorvel::store::kSettingsFile)) {
    Check(!line.empty() && line.find('\0') == std::string::npos, "a line is one non-empty piece");
    joined += line + '\0';
  }
  Check(profile.buffer.starts_with(joined) || profile.buffer + '\0' == joined, "the lines are the buffer's start");

  const auto field = qorvel::store::ValueField(text);
  Check(field.find('=') == std::string::npos, "a value field holds no '='");
  Check(text.find('=') == std::string::npos ? field.empty() : text.find("=" + std::string(field)) == text.find('='),
        "the value field follows the first '='");
  Check(!std::isnan(qorvel::store::Val(text)) && !std::isnan(qorvel::store::Val(field)), "Val gives a number");
  return 0;
}
