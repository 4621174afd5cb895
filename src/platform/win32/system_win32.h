#pragma once
// Process facts, file existence, privilege, power, shell and registry on Win32.
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock_process.h"
#include "platform/system.h"

namespace qorvel::platform::win32 {

struct ModulePath {
  std::string directory;  // ends with "\" only at a drive root
  std::string name;       // no directory, no extension
};

// Splits an executable's full path (UTF-8) the way the start-up wants it.
[[nodiscard]] ModulePath SplitModulePath(std::string_view path);

// The running executable's full path, in UTF-8.
[[nodiscard]] std::string ModuleFileName();

class Win32ProcessInfo final : public ProcessInfo {
 public:
  // Takes the single-instance mutex at once and keeps it for the process's
  // lifetime, so a later instance of the same executable sees it.
  Win32ProcessInfo();
  ~Win32ProcessInfo() override;
  Win32ProcessInfo(const Win32ProcessInfo&) = delete;
  Win32ProcessInfo& operator=(const Win32ProcessInfo&) = delete;

  [[nodiscard]] bool previous_instance() const override { return previous_; }
  [[nodiscard]] std::string exe_directory() const override { return parts_.directory; }
  [[nodiscard]] std::string exe_name() const override { return parts_.name; }

 private:
  ModulePath parts_;
  void* mutex_ = nullptr;
  bool previous_ = false;
};

// Named after the full path, case folded: two copies of the program in
// different folders do not count as instances of each other.
[[nodiscard]] std::wstring InstanceMutexName(std::string_view module_path);

class Win32FileSystem final : public FileSystem {
 public:
  [[nodiscard]] std::optional<bool> file_exists(std::string_view path) const override;
};

class Win32Privilege final : public Privilege {
 public:
  bool enable_shutdown_privilege() override;
};

class Win32Power final : public Power {
 public:
  bool exit_windows(unsigned flags, unsigned reason) override;
};

class Win32Shell final : public Shell {
 public:
  bool start_process(std::string_view command_line, int show_style) override;
};

class Win32Registry final : public Registry {
 public:
  bool set_local_machine_string(std::string_view subkey, std::string_view name,
                                std::string_view data) override;
};

}  // namespace qorvel::platform::win32
