#include "platform/portable/portable_profile_file.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"

#ifdef _WIN32
#include "platform/win32/text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#endif

namespace qorvel::platform {
namespace {

struct Contents {
  bool exists = false;
  std::string bytes;
  std::optional<PortableProfileFile::Stamp> stamp;
};

// A name for the temporary file beside the target, unique in this process.
std::string TemporaryName(std::string_view path, unsigned long pid) {
  static std::atomic<unsigned> counter{0};
  return std::string(path) + "." + std::to_string(pid) + "." + std::to_string(++counter) + ".tmp";
}

#ifdef _WIN32

using win32::Widen;

std::optional<Contents> ReadAll(std::string_view path, std::string buffer) {
  const HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Contents{};
    return std::nullopt;
  }
  buffer.clear();
  Contents c{true, std::move(buffer), {}};
  char chunk[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0) c.bytes.append(chunk, got);
  CloseHandle(h);
  if (!ok) return std::nullopt;
  return c;
}

bool ReplaceAll(std::string_view path, const std::string& bytes) {
  const std::wstring target = Widen(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  const std::wstring temp = Widen(TemporaryName(path, GetCurrentProcessId()));
  const HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
            written == bytes.size() && FlushFileBuffers(h) != 0;
  ok = CloseHandle(h) != 0 && ok;
  ok = ok && MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

#else

PortableProfileFile::Stamp StampOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_ctim.tv_sec,
          st.st_ctim.tv_nsec};
}

// The plain file at the path still has the stamp of the bytes last read.
bool Unchanged(std::string_view path, const std::optional<PortableProfileFile::Stamp>& stamp) {
  struct stat st{};
  return stamp && lstat(std::string(path).c_str(), &st) == 0 && S_ISREG(st.st_mode) && StampOf(st) == *stamp;
}

std::optional<Contents> ReadAll(std::string_view path, std::string buffer) {
  // Never through a link, and never stuck on a FIFO: neither is a settings file.
  const int fd = open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Contents{};
    return std::nullopt;
  }
  buffer.clear();
  Contents c{true, std::move(buffer), {}};
  // The stamp of what is read, trusted once it is over a second old: a
  // write within the file system's clock step may leave it as it was.
  struct stat st{};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_mtim.tv_sec < time(nullptr) - 1 &&
      st.st_ctim.tv_sec < time(nullptr) - 1)
    c.stamp = StampOf(st);
  char chunk[4096];
  ssize_t got = 0;
  while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) c.bytes.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  if (got < 0) return std::nullopt;
  return c;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReplaceAll(std::string_view path_view, const std::string& bytes) {
  const std::string path(path_view);
  // A file without its owner's write permission counts as read-only, as the
  // read-only attribute does on Windows, even for root. A link is no file:
  // the rename would replace it rather than write through it, so refuse.
  struct stat st{};
  const bool exists = lstat(path.c_str(), &st) == 0;
  if (exists && (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0 || access(path.c_str(), W_OK) != 0)) {
    return false;
  }
  const std::string temp = TemporaryName(path, static_cast<unsigned long>(getpid()));
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes) && (!exists || fchmod(fd, st.st_mode & 07777) == 0) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable; a file system that cannot sync a
  // directory has still replaced the file whole.
  const int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

#endif

}  // namespace

std::string PortableProfileFile::get_section(std::string_view section, std::size_t buffer_size,
                                             std::string_view file) {
  // The guard reads the same section of the same file twice a second, and
  // the file seldom changes: it is read only when its stamp has changed (or
  // cannot be trusted), into the same buffer, and parsed only when its bytes
  // differ from the last read's.
  Last& last = last_;
#ifndef _WIN32
  if (section == last.section && buffer_size == last.buffer_size && file == last.file && Unchanged(file, last.stamp))
    return last.result;
#endif
  auto contents = ReadAll(file, std::move(read_buffer_));
  const std::string_view bytes = contents ? std::string_view(contents->bytes) : std::string_view();
  if (!(bytes == last.bytes && section == last.section && buffer_size == last.buffer_size && file == last.file)) {
    auto read = ini::get_section(bytes, utf8_to_cp936(section), buffer_size).buffer;
    // The usual file is all ASCII, the same in UTF-8: no copy.
    const bool ascii = std::all_of(read.begin(), read.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    last.result = ascii ? std::move(read) : cp936_to_utf8(read);
    last.section = section;
    last.buffer_size = buffer_size;
    last.file = file;
    last.bytes.assign(bytes);
  }
  last.stamp = contents ? contents->stamp : std::nullopt;
  // A huge hand-made file's buffer is not kept.
  if (contents && contents->bytes.capacity() <= 65536) read_buffer_ = std::move(contents->bytes);
  return last.result;
}

bool PortableProfileFile::write_string(std::string_view section, std::string_view key,
                                       std::optional<std::string_view> value, std::string_view file) {
  last_.stamp.reset();
  const auto contents = ReadAll(file, {});
  if (!contents) return false;
  // A UTF-16 file (Windows reads one with its byte-order mark) would get
  // code page 936 lines spliced in: refuse rather than corrupt it.
  const std::string_view bytes = contents->bytes;
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return false;
  std::optional<std::string> ansi_value;
  if (value) ansi_value = utf8_to_cp936(*value);
  const auto updated = ini::write_string(contents->bytes, utf8_to_cp936(section), utf8_to_cp936(key), ansi_value);
  if (!updated) return true;  // nothing changes: the file is left untouched
  return ReplaceAll(file, *updated);
}

}  // namespace qorvel::platform
