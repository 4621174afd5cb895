// The settings file as children, parents and editors leave it: a folder in
// its place, read-only, held open, huge, with NULs, broken code page 936, a
// byte-order mark, CR-only line ends, a header without "]". The real program
// must not crash, must lock whenever no allowed hour can be read, and must
// write nothing; the settings window shows what can be read; the portable
// engine reads each file as Windows' functions do, or the difference is
// named below. Owns C:\mdb.ini and shows windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/codepage.h"
#include "platform/portable/ini_text.h"
#include "platform/win32/dialogs_win32.h"
#include "platform/win32/form2_window.h"
#include "platform/win32/profile_file_win32.h"
#include "platform/win32/text.h"
#include "settings/form2.h"
#include "settings/password_gate.h"
#include "store/module1.h"
#include "real_program.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

namespace fs = std::filesystem;
namespace w32 = platform::win32;
using w32::Narrow;
using w32::Widen;
using test::WaitFor;
using test::WindowOf;

constexpr char kFile[] = "C:\\mdb.ini";

// Every hour is allowed or none is readable: the expected layout does not
// depend on the hour the test runs at.
std::string AllHours(const char* eol = "\r\n") {
  std::string text = std::string("[HOUR]") + eol;
  for (int h = 0; h <= 23; ++h) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + eol;
  return text;
}
std::string Rest(const char* eol = "\r\n") { return std::string("[mm]") + eol + "nober=907" + eol + "[bb]" + eol + "two=1" + eol; }

std::string Utf16(const std::string& ascii) {
  std::string out = "\xff\xfe";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

enum class Kind { kPlain, kReadOnly, kHeldOpen, kFolder };

struct Hostile {
  const char* name;
  Kind kind;
  std::string bytes;
  // Where the engine reads the file unlike Windows' functions under Wine
  // (empty: they agree on every section).
  const char* engine_differs;
};

std::vector<Hostile> Cases() {
  std::string big = "[junk]\r\n";
  while (big.size() < 5 * 1024 * 1024) big += "line" + std::to_string(big.size()) + "=" + std::string(100, 'x') + "\r\n";
  return {
      {"folder", Kind::kFolder, "", ""},
      {"read-only", Kind::kReadOnly, AllHours() + Rest(), ""},
      {"held open without sharing", Kind::kHeldOpen, AllHours() + Rest(), ""},
      {"5 MB", Kind::kPlain, big + AllHours() + Rest(), ""},
      // A NUL ends a value, and "\0[HOUR]" is no header: [HOUR] reads empty
      // and its lines land in [junk].
      {"NULs", Kind::kPlain, std::string("[junk]\r\na=\0\0b\r\n\0\r\n", 16) + AllHours() + Rest(), ""},
      {"invalid code page 936", Kind::kPlain,
       "[junk]\r\n\x81\r\n\xff\xfe\xff=\x80\r\n" + AllHours() + "[mm]\r\nnober=\x81\x30\xff\x81\r\n[bb]\r\ntwo=1\r\n",
       // Windows' functions pass the text through UTF-16: what does not
       // convert comes back as "?". The engine returns the bytes unchanged.
       "Windows turns invalid characters into ?"},
      {"UTF-8 BOM", Kind::kPlain, "\xef\xbb\xbf" + AllHours() + Rest(), ""},
      // Windows reads the text after a UTF-8 mark as UTF-8; the engine skips
      // the mark but reads code page 936, so only ASCII text agrees.
      {"UTF-8 BOM, Chinese password", Kind::kPlain,
       "\xef\xbb\xbf" + AllHours() + "[mm]\r\nnober=密码\r\n[bb]\r\ntwo=1\r\n", "the engine reads no UTF-8"},
      // Windows reads UTF-16 text; the engine finds no section in it (the
      // guard locks) and refuses to write it.
      {"UTF-16 LE BOM", Kind::kPlain, Utf16(AllHours() + Rest()), "the engine reads no UTF-16"},
      {"CR-only line ends", Kind::kPlain, AllHours("\r") + Rest("\r"), ""},
      {"header without ]", Kind::kPlain, "[HOUR\r\nhou0=0\r\n" + AllHours().substr(8) + Rest(), ""},
  };
}

// Printable, for a failure message.
std::string Shown(std::string_view bytes) {
  std::string out;
  for (const char c : bytes.substr(0, 60)) {
    const auto u = static_cast<unsigned char>(c);
    out += u >= 0x20 && u < 0x7f ? std::string(1, c) : "\\x" + std::to_string(u);
  }
  return out;
}

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Puts the case in place at C:\mdb.ini; the handle is the holder's, if any.
struct InPlace {
  explicit InPlace(const Hostile& c) : kind(c.kind) {
    Clear();
    if (c.kind == Kind::kFolder) {
      CreateDirectoryW(Widen(kFile).c_str(), nullptr);
      return;
    }
    std::ofstream(kFile, std::ios::binary) << c.bytes;
    if (c.kind == Kind::kReadOnly) SetFileAttributesW(Widen(kFile).c_str(), FILE_ATTRIBUTE_READONLY);
    if (c.kind == Kind::kHeldOpen) {
      held = CreateFileW(Widen(kFile).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_NE(held, INVALID_HANDLE_VALUE);
    }
  }
  ~InPlace() {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    Clear();
  }
  // The file's bytes, or "folder" while a folder stands there.
  std::string Now() {
    if (held != INVALID_HANDLE_VALUE) {
      CloseHandle(held);
      held = INVALID_HANDLE_VALUE;
    }
    const DWORD attributes = GetFileAttributesW(Widen(kFile).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "folder";
    return Bytes(kFile);
  }
  static void Clear() {
    SetFileAttributesW(Widen(kFile).c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(Widen(kFile).c_str());
    RemoveDirectoryW(Widen(kFile).c_str());
  }
  Kind kind;
  HANDLE held = INVALID_HANDLE_VALUE;
};

// The hours Windows' functions read from the settings file: all or none.
std::size_t HoursRead() {
  w32::Win32ProfileFile windows;
  return store::ReadProfileSection(windows, "HOUR", store::kSettingsFile).size();
}

TEST(HostileFile, TheEngineReadsEachFileAsWindowsDoes) {
  ASSERT_EQ(GetACP(), 936u);
  const fs::path path = fs::temp_directory_path() / "qorvel-hostile.ini";
  for (const auto& c : Cases()) {
    if (c.kind != Kind::kPlain && c.kind != Kind::kReadOnly) continue;
    SCOPED_TRACE(c.name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    bool same = true;
    for (const char* section : {"HOUR", "mm", "bb", "junk"}) {
      for (const std::size_t size : {std::size_t{32767}, std::size_t{40}}) {
        std::string raw(size, '#');
        const DWORD count = GetPrivateProfileSectionA(section, raw.data(), static_cast<DWORD>(size), path.string().c_str());
        const auto engine = platform::ini::get_section(c.bytes, section, size);
        const bool agree = count == engine.count && raw.compare(0, engine.buffer.size(), engine.buffer) == 0;
        if (!agree && *c.engine_differs == '\0') {
          ADD_FAILURE() << "[" << section << "] in " << size << ": Windows " << count << " bytes \""
                        << Shown(raw.substr(0, count)) << "\", engine " << engine.count << " \""
                        << Shown(engine.buffer.substr(0, engine.count)) << "\"";
        }
        same = same && agree;
      }
    }
    if (*c.engine_differs != '\0') {
      EXPECT_FALSE(same) << "now agrees: " << c.engine_differs;
    }
  }
  fs::remove(path);
}

TEST(HostileFile, TheProgramLocksWithoutAnHourAndWritesNothing) {
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.name);
    InPlace file(c);
    const bool locked = HoursRead() == 0;
    ASSERT_TRUE(HoursRead() == 0 || HoursRead() == 24) << "the layout would depend on the hour";
    const std::string before = c.kind == Kind::kFolder ? "folder" : c.bytes;

    {
      const test::RunningProgram program;
      const DWORD pid = program.p.dwProcessId;
      // Without a readable start-up flag the program asks first; Cancel writes nothing.
      HWND main = nullptr;
      EXPECT_TRUE(WaitFor([&] {
        if (const HWND box = WindowOf(pid, L"#32770")) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        main = WindowOf(pid, L"QorvelForm1");
        return main != nullptr && (IsZoomed(main) != FALSE) == locked;
      })) << "never showed the " << (locked ? "locked" : "compact") << " layout";
      // Some more ticks: the program must neither crash nor write. (Waiting
      // longer can only make this check stricter, never fail it wrongly.)
      Sleep(1500);
      EXPECT_TRUE(program.alive()) << "the program ended";
      EXPECT_EQ((GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, locked);
    }  // terminated here, before the file is looked at
    EXPECT_TRUE(file.Now() == before) << "the file was written";
  }
}

// The settings window over Windows' own profile functions, with a plain
// window in place of the main one.
TEST(HostileFile, TheSettingsWindowShowsWhatCanBeRead) {
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.name);
    InPlace file(c);
    test::FakeServices fx;
    w32::Win32ProfileFile windows;
    w32::Win32Dialogs dialogs{fx.process};
    platform::Services services{windows, fx.clock, fx.process,  fx.files, fx.privilege,
                                fx.power, fx.shell, fx.registry, dialogs, fx.system};
    test::FakeForm1View view{fx.log};
    guard::Form1 form1{services, view};
    const HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                       nullptr, nullptr, nullptr, nullptr);
    w32::Win32Form2Host host{services, form1, owner};

    const auto hours = store::ReadProfileSection(windows, "HOUR", store::kSettingsFile);
    const std::string password = settings::StoredPassword(windows);
    // The window is modal: a thread timer looks at it from inside its loop.
    static HWND form;
    static LRESULT listed;
    static std::wstring shown;
    form = nullptr;
    listed = -1;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
      const HWND found = FindWindowW(w32::kForm2ClassName, nullptr);
      if (found == nullptr || !IsWindowVisible(found) || form != nullptr) return;
      form = found;
      listed = SendDlgItemMessageW(found, w32::kForm2List1, LB_GETCOUNT, 0, 0);
      shown = w32::WindowText(GetDlgItem(found, w32::kForm2Text1));
      PostMessageW(found, WM_CLOSE, 0, 0);
    });
    host.show_modal();
    KillTimer(nullptr, timer);
    ASSERT_NE(form, nullptr) << "the settings window never showed";
    EXPECT_EQ(listed, static_cast<LRESULT>(hours.size()));
    EXPECT_EQ(Narrow(shown), password);
    DestroyWindow(owner);
    EXPECT_TRUE(file.Now() == (c.kind == Kind::kFolder ? "folder" : c.bytes)) << "the file was written";
  }
}

}  // namespace
}  // namespace qorvel
