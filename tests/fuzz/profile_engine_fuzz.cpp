// The portable profile engine over a real file: random file bytes, then a
// random sequence of reads, writes and deletes with the names and values the
// program uses and their awkward neighbours. After every step:
//  - a read ends with two NULs within its size;
//  - a written key reads back with its value, a deleted key's line is gone;
//  - no other section reads differently;
//  - the file holds the whole old bytes or the whole new ones, and a write
//    that fails (read-only file, UTF-16 text) leaves the old bytes and no
//    stray file.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"
#include "platform/portable/portable_profile_file.h"

namespace {

using qorvel::platform::utf8_to_cp936;
namespace ini = qorvel::platform::ini;

// Section and key names: mixed case, double-byte characters whose second byte
// is "]" (乚) or a letter (丄 and 乤 differ only in its case), inner spaces.
const char* const kSections[] = {"HOUR", "hour", "Hour", "mm", "MM", "bb", "设置", "乚", "丄", "乤", "a b"};
const char* const kKeys[] = {"hou1", "HOU1", "hou23", "hou0", "nober", "NOBER", "two", "密码", "乚k", "丄", "乤", "k k"};
// Value pieces; a value joins up to four of them, or a run past the section reader's 32767 bytes.
const char* const kPieces[] = {"1", "907", "0", "密码", "乚", "=", " ", "  x", "[HOUR]", ";c", "a=b", "丄乤", "\t"};

// The rules again, written plainly: names compare without regard to ASCII
// case, double-byte characters exactly; a line's key is before its first "=".
std::string_view Trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto c = static_cast<unsigned char>(a[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < a.size()) {
      if (a.substr(i, 2) != b.substr(i, 2)) return false;
      ++i;
    } else if (std::tolower(c) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}
std::string_view KeyOf(std::string_view line) { return Trim(line.substr(0, line.find('='))); }
// The section's lines as the reader gives them, whole.
std::vector<std::string> Lines(std::string_view file, std::string_view section) {
  const auto read = ini::get_section(file, section, file.size() + 2);
  std::vector<std::string> lines;
  for (std::size_t pos = 0, nul; pos < read.count; pos = nul + 1) {
    nul = read.buffer.find('\0', pos);
    lines.push_back(read.buffer.substr(pos, nul - pos));
  }
  return lines;
}
std::size_t KeyCount(std::string_view file, std::string_view section, std::string_view key) {
  const auto lines = Lines(file, section);
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return SameName(KeyOf(l), key); });
}

std::string g_step;  // the step under way, printed with a broken invariant
void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n%s\n", what, g_step.c_str());
  std::abort();
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// tmpfs when there is one: every write syncs. Removed at a normal exit; an
// abort leaves it for a look.
const std::string& Directory() {
  static const std::string dir = [] {
    std::string d = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qorvel-fuzz-" +
                    std::to_string(getpid());
    mkdir(d.c_str(), 0700);
    return d;
  }();
  // Registered once dir exists, so it runs before dir is destroyed.
  static const int cleanup = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(Directory(), ignored);
  });
  (void)cleanup;
  return dir;
}

struct Op {
  int kind;  // 0 read, 1 write, 2 delete, 3 write to a read-only file
  std::string section, key, value;
  std::size_t size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<Op> ops(in.ConsumeIntegralInRange(0, 12));
  for (auto& op : ops) {
    op.kind = in.ConsumeIntegralInRange(0, 3);
    op.section = kSections[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSections) - 1)];
    op.key = kKeys[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)];
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
      const auto piece = in.ConsumeIntegralInRange<std::size_t>(0, std::size(kPieces));
      if (piece < std::size(kPieces)) op.value += kPieces[piece];
      else op.value.append(in.ConsumeIntegralInRange<std::size_t>(1, 40000), '7');
    }
    const std::size_t sizes[] = {0, 1, 2, 3, 4, 7, 16, 100, 32767};
    const auto pick = in.ConsumeIntegralInRange<std::size_t>(0, std::size(sizes));
    op.size = pick < std::size(sizes) ? sizes[pick] : in.ConsumeIntegralInRange<std::size_t>(0, 70000);
  }
  std::string file = in.ConsumeRemainingBytesAsString();

  const std::string path = Directory() + "/mdb.ini";
  chmod(path.c_str(), 0644);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
  qorvel::platform::PortableProfileFile profile;

  for (const auto& op : ops) {
    const std::string section = utf8_to_cp936(op.section), key = utf8_to_cp936(op.key), value = utf8_to_cp936(op.value);
    g_step = "op " + std::to_string(op.kind) + " [" + op.section + "] " + op.key + "=" + op.value.substr(0, 80) +
             " size " + std::to_string(op.size) + " on " + std::to_string(file.size()) + " bytes:";
    for (const char c : file.substr(0, 200)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      g_step += c >= 0x20 && c < 0x7F ? std::string(1, c) : hex;
    }
    if (op.kind == 0) {
      const auto read = ini::get_section(file, section, op.size);
      Check(read.buffer.size() <= op.size, "a read stays within its size");
      Check(op.size < 2 || (read.buffer.size() >= 2 && read.buffer.ends_with(std::string(2, '\0'))),
            "a read ends with two NULs");
      Check(op.size < 2 || profile.get_section(op.section, op.size, path).ends_with(std::string(2, '\0')),
            "the converted read ends with two NULs");
      continue;
    }
    const auto expected = ini::write_string(file, section, key, op.kind == 2 ? std::nullopt : std::optional(value));
    if (op.kind == 3) chmod(path.c_str(), 0444);
    const bool ok = profile.write_string(op.section, op.key, op.kind == 2 ? std::nullopt : std::optional(op.value), path);
    if (op.kind == 3) chmod(path.c_str(), 0644);
    const std::string now = Bytes(path);
    Check(std::distance(std::filesystem::directory_iterator(Directory()), {}) == 1,
          "no file is left beside the settings file");
    // UTF-16 text is never written: code page 936 lines would ruin it.
    const bool utf16 = file.starts_with("\xFF\xFE") || file.starts_with("\xFE\xFF");
    if (op.kind == 3 || utf16) {
      Check(now == file, "a failed write leaves the old bytes");
      Check(!ok || (!expected && !utf16), "a write that cannot be done reports failure");
      continue;
    }
    Check(ok, "a write succeeds");
    Check(now == expected.value_or(file), "the file holds the whole new bytes");
    if (op.kind == 1) {
      const auto lines = Lines(now, section);
      Check(std::any_of(lines.begin(), lines.end(),
                        [&](const std::string& l) { return SameName(KeyOf(l), key) && l.find('=') != std::string::npos &&
                                                           l.substr(l.find('=') + 1) == value; }),
            "a written key reads back with its value");
    } else {
      const auto before = KeyCount(file, section, key), left = KeyCount(now, section, key);
      // A NUL cuts a name after its spaces are dropped ("k \0x" is the key
      // "k "), which the trimmed reading here does not follow; without NULs
      // the count is exact.
      Check(file.find('\0') == std::string::npos ? left + (before > 0 ? 1 : 0) == before : left <= before,
            "a delete removes exactly one line of the key");
    }
    for (const char* other : kSections) {
      const std::string name = utf8_to_cp936(other);
      Check(SameName(Trim(name), Trim(section)) || Lines(file, name) == Lines(now, name),
            "a write changes no other section");
    }
    file = now;
  }
  return 0;
}
