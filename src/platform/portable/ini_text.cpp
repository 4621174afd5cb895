#include "platform/portable/ini_text.h"

#include <algorithm>
#include <vector>

namespace qorvel::platform::ini {
namespace {

// The text is code page 936: a byte from 0x81 to 0xFE starts a two-byte
// character whose second byte may look like ASCII ("]" or a letter), so
// scans that care about those characters step over whole characters.
bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Names match without regard to ASCII letter case; double-byte characters
// match exactly.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

struct Line {
  std::size_t begin = 0;
  std::size_t text_end = 0;  // before the line end
  std::size_t end = 0;       // after the line end
};

// Lines end at LF, CR LF or a lone CR (as Windows reads a file saved with
// old Mac line ends); the last line may have no line end at all. A UTF-8
// byte-order mark before the first line is not part of it: Windows' reader
// skips it too, and a write keeps it.
std::size_t FirstLine(std::string_view bytes) { return bytes.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0; }

// The line that starts at pos, which is inside the bytes. A plain loop: this
// runs twice a second over the whole file, and find_first_of costs a call
// per byte.
Line LineAt(std::string_view bytes, std::size_t pos) {
  const char* p = bytes.data();
  const std::size_t n = bytes.size();
  std::size_t i = pos;
  while (i < n && p[i] != '\r' && p[i] != '\n') ++i;
  Line line{pos, i, i};
  if (i < n) line.end = (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n') ? i + 2 : i + 1;
  return line;
}

std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  for (std::size_t pos = FirstLine(bytes); pos < bytes.size(); pos = lines.back().end) lines.push_back(LineAt(bytes, pos));
  return lines;
}

// Windows' reader keeps names and values as C strings: each ends at its
// first NUL, while the line itself ends only at a line end.
std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// The name of a section header line ("[ HOUR ]" gives "HOUR"), or nullopt for
// any other line. The name ends at the line's last "]".
std::optional<std::string_view> HeaderName(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.front() != '[') return std::nullopt;
  std::optional<std::size_t> close;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
      ++i;
    } else if (text[i] == ']') {
      close = i;
    }
  }
  if (!close) return std::nullopt;
  return UpToNul(Trim(text.substr(1, *close - 1)));
}

bool IsBlank(std::string_view text) { return Trim(text).empty(); }

// The key of an entry line: the text before its first "=", or the whole line
// when it has none. ("=" is below 0x40 and never the second byte of a
// double-byte character.)
std::string_view KeyOf(std::string_view text) { return UpToNul(Trim(text.substr(0, text.find('=')))); }

// Appends an entry line (neither blank nor a comment) as the reader returns
// it, followed by a NUL; nothing for a line that holds no name. A NUL cuts
// the name before "=" and the value after it: "k\0x=1" and "k=1\0x" both
// read as "k=1".
void AppendEntry(std::string& out, std::string_view text, bool may_hold_nuls) {
  if (!may_hold_nuls || text.find('\0') == std::string_view::npos) {
    out += text;
  } else if (const auto eq = text.find('='); eq == std::string_view::npos) {
    const auto name = UpToNul(text);
    if (IsBlank(name)) return;
    out += name;
  } else {
    out += UpToNul(text.substr(0, eq));
    out += '=';
    out += UpToNul(text.substr(eq + 1));
  }
  out += '\0';
}

class File {
 public:
  explicit File(std::string_view bytes) : bytes_(bytes), lines_(SplitLines(bytes)) {}

  std::string_view text(std::size_t i) const {
    return bytes_.substr(lines_[i].begin, lines_[i].text_end - lines_[i].begin);
  }
  const std::vector<Line>& lines() const { return lines_; }

  // Index of the first header of the section, if any.
  std::optional<std::size_t> find_section(std::string_view name) const {
    name = Trim(name);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      const auto header = HeaderName(text(i));
      if (header && SameName(*header, name)) return i;
    }
    return std::nullopt;
  }

  // The lines after the header, up to the next header.
  std::size_t section_end(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && !HeaderName(text(i))) ++i;
    return i;
  }

 private:
  std::string_view bytes_;
  std::vector<Line> lines_;
};

constexpr std::string_view kCrLf = "\r\n";

// Appends a line end to text whose last line has none. A lone CR is a line
// end already.
void EndLastLine(std::string& out) {
  if (out.empty() || out.back() == '\n' || out.back() == '\r' || out == kUtf8Bom) return;
  out += kCrLf;
}

}  // namespace

SectionRead get_section(std::string_view file_bytes, std::string_view section, std::size_t buffer_size) {
  SectionRead read;
  std::string& lines = read.buffer;  // each line followed by a NUL
  lines.reserve(std::min(file_bytes.size(), buffer_size) + 2);
  section = Trim(section);
  // One pass, nothing stored but the result, and one look for NULs: the
  // guard reads its section twice a second.
  const bool nuls = file_bytes.find('\0') != std::string_view::npos;
  bool inside = false;
  for (std::size_t pos = FirstLine(file_bytes); pos < file_bytes.size() && lines.size() < buffer_size;) {
    const Line line = LineAt(file_bytes, pos);
    pos = line.end;
    const auto text = file_bytes.substr(line.begin, line.text_end - line.begin);
    // The first character that is not a space tells the kind of line.
    std::size_t first = 0;
    while (first < text.size() && IsSpace(text[first])) ++first;
    if (first == text.size()) continue;  // blank
    if (text[first] == '[') {
      if (const auto header = HeaderName(text)) {
        if (inside) break;  // the first section of that name only
        inside = SameName(*header, section);
        continue;
      }
    }
    if (inside && text[first] != ';') AppendEntry(lines, text, nuls);
  }

  if (buffer_size < 2) {
    lines.assign(buffer_size, '\0');
  } else if (lines.empty()) {
    lines.assign(2, '\0');
  } else if (lines.size() <= buffer_size - 2) {
    read.count = lines.size();
    lines += '\0';
  } else {
    // Cut byte-wise, even inside a double-byte character, as Windows does.
    read.count = buffer_size - 2;
    lines.resize(buffer_size - 2);
    lines.append(2, '\0');
  }
  return read;
}

std::optional<std::string> write_string(std::string_view file_bytes, std::string_view section,
                                        std::string_view key, std::optional<std::string_view> value) {
  section = Trim(section);
  key = Trim(key);
  const File file(file_bytes);
  const auto& lines = file.lines();
  const auto header = file.find_section(section);

  std::optional<std::size_t> match;    // the key's line
  std::optional<std::size_t> last;     // the section's last non-blank line
  if (header) {
    last = *header;
    const auto end = file.section_end(*header);
    for (std::size_t i = *header + 1; i < end; ++i) {
      const auto text = file.text(i);
      if (IsBlank(text)) continue;
      last = i;
      if (!match && SameName(KeyOf(text), key)) match = i;
    }
  }

  std::string out;
  out.reserve(file_bytes.size() + section.size() + key.size() + (value ? value->size() : 0) + 8);
  const auto entry = [&] {
    std::string line(key);
    line += '=';
    line += *value;
    line += kCrLf;
    return line;
  };

  if (!value) {
    if (!match) return std::nullopt;
    out.append(file_bytes.substr(0, lines[*match].begin));
    out.append(file_bytes.substr(lines[*match].end));
  } else if (match) {
    const auto text = file.text(*match);
    const auto eq = text.find('=');
    if (eq != std::string_view::npos && text.substr(eq + 1) == *value) return std::nullopt;
    // The line keeps its place and its key's spelling.
    out.append(file_bytes.substr(0, lines[*match].begin));
    out.append(KeyOf(text));
    out += '=';
    out.append(*value);
    out += kCrLf;
    out.append(file_bytes.substr(lines[*match].end));
  } else if (last) {
    out.append(file_bytes.substr(0, lines[*last].end));
    EndLastLine(out);
    out += entry();
    out.append(file_bytes.substr(lines[*last].end));
  } else {
    out.append(file_bytes);
    EndLastLine(out);
    out += '[';
    out.append(section);
    out += ']';
    out += kCrLf;
    out += entry();
  }
  EndLastLine(out);
  return out;
}

}  // namespace qorvel::platform::ini
