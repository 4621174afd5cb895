// The portable profile engine over a real file: random file bytes, then a
// random sequence of reads, writes and deletes with the names and values the
// program uses and their awkward neighbours, every step's result checked.
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
namespace fs = std::filesystem;

// Names: mixed case, double-byte characters whose second byte is "]" (乚) or
// a letter (丄 and 乤 differ only in its case), inner spaces. A value joins up
// to four pieces, or a run past the section reader's 32767 bytes.
const char* const kSections[] = {"HOUR", "hour", "Hour", "mm", "MM", "bb", "设置", "乚", "丄", "乤", "a b"};
const char* const kKeys[] = {"hou1", "HOU1", "hou23", "hou0", "nober", "NOBER", "two", "密码", "乚k", "丄", "乤", "k k"};
const char* const kPieces[] = {"1", "907", "0", "密码", "乚", "=", " ", "  x", "[HOUR]", ";c", "a=b", "丄乤", "\t"};

// The rules again, written plainly: names compare without regard to ASCII
// case, double-byte characters exactly; a line's key is before its first "=".
std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\n\v\f\r");
  return first == s.npos ? "" : s.substr(first, s.find_last_not_of(" \t\n\v\f\r") - first + 1);
}
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto c = static_cast<unsigned char>(a[i]);
    const bool pair = c >= 0x81 && c <= 0xFE && i + 1 < a.size();
    if (pair ? a.substr(i, 2) != b.substr(i, 2) : std::tolower(c) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
    i += pair;
  }
  return true;
}
// The section's lines as the reader gives them, whole; with a key, only its lines.
std::vector<std::string> Lines(std::string_view file, std::string_view section, const std::string* key = nullptr) {
  const auto read = ini::get_section(file, section, file.size() + 2);
  std::vector<std::string> lines;
  for (std::size_t pos = 0, nul; pos < read.count; pos = nul + 1) {
    const std::string line = read.buffer.substr(pos, (nul = read.buffer.find('\0', pos)) - pos);
    if (!key || SameName(Trim(std::string_view(line).substr(0, line.find('='))), *key)) lines.push_back(line);
  }
  return lines;
}

std::string g_step;  // the step under way, printed with a broken invariant
void Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "invariant broken: %s\n%s\n", what, g_step.c_str()), std::abort();
}

// kind: 0 read, 1 write, 2 delete, 3 write to a read-only file.
struct Op { int kind; std::string section, key, value; std::size_t size; };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const auto any = [&](const auto& list) {
    return list[in.ConsumeIntegralInRange<std::size_t>(0, std::size(list) - 1)];
  };
  std::vector<Op> ops(in.ConsumeIntegralInRange(0, 12));
  for (auto& op : ops) {
    op.kind = in.ConsumeIntegralInRange(0, 3);
    op.section = any(kSections), op.key = any(kKeys);
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

  // tmpfs when there is one: every write syncs. Gone at a normal exit, kept after an abort for a look.
  static const std::string dir =
      std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/qorvel-fuzz-" + std::to_string(getpid());
  [[maybe_unused]] static const int made =
      (mkdir(dir.c_str(), 0700), std::atexit([] { std::error_code e; fs::remove_all(dir, e); }));
  const std::string path = dir + "/mdb.ini";
  chmod(path.c_str(), 0644);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
  qorvel::platform::PortableProfileFile profile;

  for (const auto& op : ops) {
    const std::string section = utf8_to_cp936(op.section), key = utf8_to_cp936(op.key), value = utf8_to_cp936(op.value);
    g_step = "op " + std::to_string(op.kind) + " [" + op.section + "] " + op.key + "=" + op.value.substr(0, 80) +
             " size " + std::to_string(op.size) + " on " + std::to_string(file.size()) + " bytes:";
    char hex[8];
    for (const unsigned char c : file.substr(0, 200))
      g_step += c >= 0x20 && c < 0x7F ? std::string(1, c) : (std::snprintf(hex, sizeof hex, "\\x%02X", c), hex);
    const std::string two_nuls(2, '\0');
    if (op.kind == 0) {
      const auto read = ini::get_section(file, section, op.size);
      Check(read.buffer.size() <= op.size, "a read stays within its size");
      Check(op.size < 2 || read.buffer.ends_with(two_nuls), "a read ends with two NULs");
      Check(op.size < 2 || profile.get_section(op.section, op.size, path).ends_with(two_nuls),
            "the converted read ends with two NULs");
      continue;
    }
    const auto expected = ini::write_string(file, section, key, op.kind == 2 ? std::nullopt : std::optional(value));
    if (op.kind == 3) chmod(path.c_str(), 0444);
    const bool ok = profile.write_string(op.section, op.key, op.kind == 2 ? std::nullopt : std::optional(op.value), path);
    if (op.kind == 3) chmod(path.c_str(), 0644);
    std::ifstream written(path, std::ios::binary);
    const std::string now{std::istreambuf_iterator<char>(written), {}};
    Check(std::distance(fs::directory_iterator(dir), {}) == 1, "no file is left beside the settings file");
    // UTF-16 text is never written: code page 936 lines would ruin it.
    const bool utf16 = file.starts_with("\xFF\xFE") || file.starts_with("\xFE\xFF");
    if (op.kind == 3 || utf16) {
      Check(now == file, "a failed write leaves the old bytes");
      Check(!ok || (!expected && !utf16), "a write that cannot be done reports failure");
      continue;
    }
    Check(ok, "a write succeeds");
    Check(now == expected.value_or(file), "the file holds the whole new bytes");
    const auto before = Lines(file, section, &key), after = Lines(now, section, &key);
    if (op.kind == 1) {
      Check(std::any_of(after.begin(), after.end(),
                        [&](const auto& l) { return l.find('=') != l.npos && l.substr(l.find('=') + 1) == value; }),
            "a written key reads back with its value");
    } else {
      // A NUL cuts a name after its spaces are dropped ("k \0x" is the key "k "),
      // which the trimmed reading here does not follow: exact only without NULs.
      Check(file.find('\0') == std::string::npos ? after.size() + !before.empty() == before.size()
                                                 : after.size() <= before.size(),
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
