#pragma once
#include <optional>

#include "platform/profile_file.h"

namespace qorvel::platform {

// The profile functions over real files, for platforms without them. Writes
// replace the file atomically (temporary file beside it, flushed, renamed
// over it), so a crash mid-write leaves the old file or the new one. A file
// in UTF-16 is read as having no sections and is never written.
class PortableProfileFile final : public ProfileFile {
 public:
  // What tells one version of a file from another without reading it.
  struct Stamp {
    unsigned long long device = 0, inode = 0;
    long long size = 0, modified_s = 0, modified_ns = 0, changed_s = 0, changed_ns = 0;
    bool operator==(const Stamp&) const = default;
  };

  [[nodiscard]] std::string get_section(std::string_view section, std::size_t buffer_size,
                                        std::string_view file) override;
  bool write_string(std::string_view section, std::string_view key,
                    std::optional<std::string_view> value, std::string_view file) override;

 private:
  // Kept between reads: one thread at a time.
  struct Last {
    std::string bytes, section, file, result;
    std::size_t buffer_size = 0;
    std::optional<Stamp> stamp;  // of the bytes, where it can be trusted
  };
  std::string read_buffer_;
  Last last_;
};

}  // namespace qorvel::platform
