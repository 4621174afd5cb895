#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::platform {

struct LocalTime {
  int year = 2000;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;   // 0-23
  int minute = 0;
  int second = 0;
  friend bool operator==(const LocalTime&, const LocalTime&) = default;
};

class Clock {
 public:
  virtual ~Clock() = default;
  [[nodiscard]] virtual LocalTime now() const = 0;
  // The locale's general date format: short date, a space, long time; at
  // exactly 00:00:00 the short date alone.
  [[nodiscard]] virtual std::string general_date(const LocalTime& t) const = 0;
};

class ProcessInfo {
 public:
  virtual ~ProcessInfo() = default;
  // Another instance of the same executable is already running.
  [[nodiscard]] virtual bool previous_instance() const = 0;
  // The executable's directory; ends with a separator only at a drive root
  // ("C:\").
  [[nodiscard]] virtual std::string exe_directory() const = 0;
  // The executable's file name without directory and extension.
  [[nodiscard]] virtual std::string exe_name() const = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // nullopt when existence could not be determined.
  [[nodiscard]] virtual std::optional<bool> file_exists(std::string_view path) const = 0;
};

}  // namespace qorvel::platform
