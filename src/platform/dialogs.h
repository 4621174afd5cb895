#pragma once
#include <chrono>
#include <string>
#include <string_view>

namespace qorvel::platform {

// MessageBox styles and results, as the platform numbers them.
inline constexpr unsigned kMbOk = 0;
inline constexpr unsigned kMbOkCancel = 1;
inline constexpr unsigned kMbIconWarning = 48;
inline constexpr unsigned kMbIconInformation = 64;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A modal message box with the application's default title (the
  // executable's name without extension), above the application's window
  // even when that is topmost. Returns the button pressed, or kIdCancel when
  // time_limit (if not zero) runs out first.
  virtual int message_box(std::string_view text, unsigned style, std::chrono::seconds time_limit) = 0;
  // A modal input box with one text field, empty at first. Returns the typed
  // text, or "" on Cancel, Esc, close, or when time_limit (if not zero) runs
  // out. masked hides what is typed.
  virtual std::string input_box(std::string_view prompt, std::string_view title, bool masked,
                                std::chrono::seconds time_limit) = 0;
};

}  // namespace qorvel::platform
