#pragma once
// The one line a guard sends the guardian, and the one line it gets back.
// Fields are separated by single spaces; a space, "%", a control byte and
// DEL inside a field travel as %XX, so any text (UTF-8) fits on one line.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::guardian {

// The words a guard reports: its screen locked, its compact button, its
// password prompt open, its settings window open.
inline constexpr std::string_view kStateWords[] = {"locked", "compact", "asking", "settings"};

// Longer request lines are refused unread: a section, key, value and
// password of the settings window fit many times over.
inline constexpr std::size_t kMaxRequestLine = 4096;

enum class Verb {
  read,       // read SECTION PROOF: the section's lines, as the profile call returns them
  write,      // write SECTION KEY VALUE PROOF
  erase,      // erase SECTION KEY PROOF: removes the key's line
  check,      // check PASSWORD: is it the stored one?
  first_run,  // firstrun: the first-run file, if there is neither file nor copy
  quit,       // quit PASSWORD: the parent ends the guard
  state,      // state WORD: the guard's report, at least once a second; answered
              // "ok VERSION", VERSION naming [HOUR] as a read gives it now
};

struct Request {
  Verb verb = Verb::read;
  std::string section, key, value;
  std::string proof;  // the password, for every verb that carries one
  // A write's value; a state report's word (one of kStateWords).
  friend bool operator==(const Request&, const Request&) = default;
};

enum class Status {
  ok,      // done; a read's data follows
  no,      // refused: a wrong proof, a section not open to the sender, a malformed line
  busy,    // a wrong password came from this session less than a second ago
  failed,  // allowed, but the file could not be written
};

struct Answer {
  Status status = Status::no;
  std::string data;  // a read's section: lines each ended by NUL, then one more NUL
  friend bool operator==(const Answer&, const Answer&) = default;
};

// Each format ends its line with "\n"; each parse takes the line with it.
[[nodiscard]] std::string FormatRequest(const Request& request);
// nullopt for a malformed line: an unknown verb, a wrong field count, a bad
// escape, an empty or blank section or key, a line break or NUL inside a
// field, or a line over kMaxRequestLine.
[[nodiscard]] std::optional<Request> ParseRequest(std::string_view line);
[[nodiscard]] std::string FormatAnswer(const Answer& answer);
// A short name of a section's lines, the same for the same lines: a guard
// reads [HOUR] again only when a report's answer names other lines.
[[nodiscard]] std::string SectionVersion(std::string_view section_lines);
[[nodiscard]] std::optional<Answer> ParseAnswer(std::string_view line);

}  // namespace qorvel::guardian
