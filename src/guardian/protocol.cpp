#include "guardian/protocol.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qorvel::guardian {
namespace {

constexpr std::array<std::string_view, 7> kVerbs = {"read", "write", "erase", "check", "firstrun", "quit", "state"};
constexpr std::array<std::size_t, 7> kFieldCounts = {2, 4, 3, 1, 0, 1, 1};
constexpr std::array<std::string_view, 4> kStatuses = {"ok", "no", "busy", "fail"};
constexpr std::string_view kHex = "0123456789ABCDEF";

bool Escaped(unsigned char c) { return c <= ' ' || c == '%' || c == 0x7F; }

void Encode(std::string& out, std::string_view field) {
  for (const char ch : field) {
    const auto c = static_cast<unsigned char>(ch);
    if (!Escaped(c)) {
      out += ch;
      continue;
    }
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
}

int HexDigit(char c) {
  const auto at = kHex.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

std::optional<std::string> Decode(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (Escaped(static_cast<unsigned char>(field[i])) && field[i] != '%') return std::nullopt;
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (i + 2 >= field.size()) return std::nullopt;
    const int hi = HexDigit(field[i + 1]), lo = HexDigit(field[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi << 4 | lo);
    i += 2;
  }
  return out;
}

// The line without its "\n", split at every space.
std::optional<std::vector<std::string_view>> Fields(std::string_view line) {
  if (!line.ends_with('\n')) return std::nullopt;
  line.remove_suffix(1);
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const auto space = line.find(' ', start);
    fields.push_back(line.substr(start, space == std::string_view::npos ? space : space - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  return fields;
}

bool Blank(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }
bool OneLine(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

}  // namespace

std::string FormatRequest(const Request& request) {
  const auto verb = static_cast<std::size_t>(request.verb);
  std::string line(kVerbs[verb]);
  const std::string_view all[] = {request.section, request.key, request.value};
  std::vector<std::string_view> fields;
  if (request.verb == Verb::read) fields = {request.section, request.proof};
  if (request.verb == Verb::write) fields = {all[0], all[1], all[2], request.proof};
  if (request.verb == Verb::erase) fields = {all[0], all[1], request.proof};
  if (request.verb == Verb::check || request.verb == Verb::quit) fields = {request.proof};
  if (request.verb == Verb::state) fields = {request.value};
  for (const auto field : fields) {
    line += ' ';
    Encode(line, field);
  }
  return line + "\n";
}

std::optional<Request> ParseRequest(std::string_view line) {
  if (line.size() > kMaxRequestLine) return std::nullopt;
  const auto fields = Fields(line);
  if (!fields) return std::nullopt;
  std::size_t verb = 0;
  while (verb < kVerbs.size() && kVerbs[verb] != fields->front()) ++verb;
  if (verb == kVerbs.size() || fields->size() != kFieldCounts[verb] + 1) return std::nullopt;
  std::vector<std::string> text;
  for (std::size_t i = 1; i < fields->size(); ++i) {
    auto decoded = Decode((*fields)[i]);
    if (!decoded || !OneLine(*decoded)) return std::nullopt;
    text.push_back(std::move(*decoded));
  }
  Request request;
  request.verb = static_cast<Verb>(verb);
  switch (request.verb) {
    case Verb::read: request.section = text[0], request.proof = text[1]; break;
    case Verb::write: request.section = text[0], request.key = text[1], request.value = text[2], request.proof = text[3]; break;
    case Verb::erase: request.section = text[0], request.key = text[1], request.proof = text[2]; break;
    case Verb::check:
    case Verb::quit: request.proof = text[0]; break;
    case Verb::state: request.value = text[0]; break;
    case Verb::first_run: break;
  }
  const bool sectioned = request.verb == Verb::read || request.verb == Verb::write || request.verb == Verb::erase;
  if (sectioned && Blank(request.section)) return std::nullopt;
  if ((request.verb == Verb::write || request.verb == Verb::erase) && Blank(request.key)) return std::nullopt;
  return request;
}

std::string FormatAnswer(const Answer& answer) {
  std::string line(kStatuses[static_cast<std::size_t>(answer.status)]);
  if (answer.status == Status::ok && !answer.data.empty()) {
    line += ' ';
    Encode(line, answer.data);
  }
  return line + "\n";
}

std::string SectionVersion(std::string_view section_lines) {
  // FNV-1a: the lines are no secret (anyone may read [HOUR]) and only
  // root writes the file, so nobody picks a collision.
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : section_lines) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  std::string out;
  for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(hash >> shift) & 15];
  return out;
}

std::optional<Answer> ParseAnswer(std::string_view line) {
  const auto fields = Fields(line);
  if (!fields || fields->size() > 2) return std::nullopt;
  std::size_t status = 0;
  while (status < kStatuses.size() && kStatuses[status] != fields->front()) ++status;
  if (status == kStatuses.size()) return std::nullopt;
  Answer answer{static_cast<Status>(status), {}};
  if (fields->size() == 2) {
    auto data = Decode((*fields)[1]);
    if (answer.status != Status::ok || !data) return std::nullopt;
    answer.data = std::move(*data);
  }
  return answer;
}

}  // namespace qorvel::guardian
