#include "support/fakes.h"

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"

namespace qorvel::test {

std::string MemoryProfileFile::get_section(std::string_view section, std::size_t buffer_size,
                                           std::string_view file) {
  const auto it = files_.find(std::string(file));
  const std::string_view bytes = it == files_.end() ? std::string_view() : std::string_view(it->second);
  const auto read = platform::ini::get_section(bytes, platform::utf8_to_cp936(section), buffer_size);
  return platform::cp936_to_utf8(read.buffer);
}

bool MemoryProfileFile::write_string(std::string_view section, std::string_view key,
                                     std::optional<std::string_view> value, std::string_view file) {
  ++writes;
  log_.push_back("write [" + std::string(section) + "] " + std::string(key) +
                 (value ? "=" + std::string(*value) : " deleted"));
  if (fail_writes) return false;
  auto& bytes = files_[std::string(file)];
  std::optional<std::string> ansi_value;
  if (value) ansi_value = platform::utf8_to_cp936(*value);
  auto updated = platform::ini::write_string(bytes, platform::utf8_to_cp936(section),
                                             platform::utf8_to_cp936(key), ansi_value);
  if (updated) bytes = std::move(*updated);
  return true;
}

std::optional<std::string> MemoryProfileFile::text(std::string_view file) const {
  const auto it = files_.find(std::string(file));
  if (it == files_.end()) return std::nullopt;
  return platform::cp936_to_utf8(it->second);
}

void MemoryProfileFile::set_text(std::string_view file, std::string_view utf8) {
  files_[std::string(file)] = platform::utf8_to_cp936(utf8);
}

std::string FakeClock::general_date(const platform::LocalTime& t) const {
  std::string date = std::to_string(t.year) + "/" + std::to_string(t.month) + "/" + std::to_string(t.day);
  if (t.hour == 0 && t.minute == 0 && t.second == 0) return date;
  auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  return date + " " + std::to_string(t.hour) + ":" + two(t.minute) + ":" + two(t.second);
}

bool FakePower::exit_windows(unsigned flags, unsigned reason) {
  log_.push_back("exit_windows " + std::to_string(flags) + " " + std::to_string(reason));
  return true;
}

bool FakeShell::start_process(std::string_view command_line, int show_style) {
  log_.push_back("start " + std::string(command_line) + " /" + std::to_string(show_style));
  return true;
}

bool FakeRegistry::set_local_machine_string(std::string_view subkey, std::string_view name,
                                            std::string_view data) {
  log_.push_back("registry " + std::string(name) + "=" + std::string(data));
  if (fail) return false;
  values[std::string(subkey) + "\\" + std::string(name)] = std::string(data);
  return true;
}

int FakeDialogs::message_box(std::string_view text, unsigned style) {
  log_.push_back("message " + std::string(text));
  messages.push_back({std::string(text), style});
  if (message_answers.empty()) return 2;  // IDCANCEL
  const int answer = message_answers.front();
  message_answers.pop_front();
  return answer;
}

std::string FakeDialogs::input_box(std::string_view prompt, std::string_view title, bool masked) {
  log_.push_back("input " + std::string(prompt) + " / " + std::string(title));
  ++inputs;
  last_input_masked = masked;
  if (input_answers.empty()) return {};
  auto answer = input_answers.front();
  input_answers.pop_front();
  return answer;
}

void FakeWindow::set_window_pos(int insert_after, unsigned flags) {
  log_.push_back("pos " + std::to_string(insert_after) + " " + std::to_string(flags));
  if (insert_after == platform::kHwndTopmost) topmost = true;
  if (insert_after == platform::kHwndNotopmost) topmost = false;
}

void FakeWindow::set_window_state(platform::WindowState s) {
  state = s;
  log_.push_back(s == platform::WindowState::maximized ? "state maximized" : "state normal");
}

void FakeWindow::set_top(int twips) { top = twips; log_.push_back("top " + std::to_string(twips)); }
void FakeWindow::set_left(int twips) { left = twips; log_.push_back("left " + std::to_string(twips)); }
void FakeWindow::set_width(int twips) { width = twips; log_.push_back("width " + std::to_string(twips)); }
void FakeWindow::set_height(int twips) { height = twips; log_.push_back("height " + std::to_string(twips)); }

void FakeForm1View::set_clock_text(std::string_view text) {
  clock = std::string(text);
  log_.push_back("L1 " + clock);
}

void FakeForm1View::set_hours_text(std::string_view text) {
  hours = std::string(text);
  log_.push_back("Label2 " + hours);
}

std::string FirstRunFileText() {
  std::string text = "[HOUR]\r\n";
  for (int h = 1; h <= 23; ++h) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  return text + "[mm]\r\nnober=907\r\n[bb]\r\ntwo=0\r\n";
}

}  // namespace qorvel::test
