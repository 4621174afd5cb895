// The real qorvel binary as a family meets it, seen only from outside: the
// files it writes, its windows on an X display with openbox, and the keys and
// clicks of xdotool. tests/blackbox/run.sh gives it the displays and private
// /var/lib/qorvel and /etc/xdg/autostart. Settings files with every hour or
// none make the layout independent of the clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <grp.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>

#include "support/settings_text.h"
#include "x11.h"

namespace qorvel::blackbox {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::SettingsText;

constexpr char kSettings[] = "/var/lib/qorvel/mdb.ini";
constexpr char kAutostart[] = "/etc/xdg/autostart/qorvel.desktop";
constexpr char kMain[] = "Qorvel", kBox[] = "qorvel", kPrompt[] = "app", kForm2[] = "设置";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

template <typename Ready>
bool WaitFor(Ready ready, std::chrono::seconds limit = 30s) {
  for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(50ms))
    if (ready()) return true;
  return ready();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string{std::istreambuf_iterator<char>(in), {}} : "<missing>";
}
void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

const std::vector<int> kEveryHour = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                     12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};
std::string Registered(const std::vector<int>& hours) { return SettingsText(hours, "907", '1'); }

void CleanDirectories() {
  std::error_code ignored;
  for (const char* dir : {"/var/lib/qorvel", "/etc/xdg/autostart"})
    for (const auto& entry : fs::directory_iterator(dir, ignored)) fs::remove_all(entry.path(), ignored);
}

// A running qorvel, as root or as another user; ended when it goes.
class Guard {
 public:
  explicit Guard(const std::string& display, uid_t user = 0) {
    std::string runtime = Env("XDG_RUNTIME_DIR");
    if (user != 0) {  // that user's own runtime directory, as a session would have it
      runtime = Env("QORVEL_BLACKBOX_TMP") + "/runtime-" + std::to_string(user);
      fs::create_directories(runtime);
      if (chmod(runtime.c_str(), 0700) != 0 || chown(runtime.c_str(), user, user) != 0) ADD_FAILURE() << runtime;
    }
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", display.c_str(), 1);
      setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      if (user != 0 && (setenv("HOME", runtime.c_str(), 1) != 0 || setgroups(0, nullptr) != 0 || setgid(user) != 0 ||
                        setuid(user) != 0))
        _exit(126);
      execl(QORVEL_EXE, QORVEL_EXE, static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Guard() {
    if (alive()) kill(pid_, SIGTERM);
    if (!WaitFor([&] { return !alive(); }, 10s)) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
  }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  [[nodiscard]] int pid() const { return pid_; }
  [[nodiscard]] bool alive() {
    done_ = done_ || waitpid(pid_, &status_, WNOHANG) == pid_;
    return !done_;
  }
  [[nodiscard]] bool exited_with(int code) { return !alive() && WIFEXITED(status_) && WEXITSTATUS(status_) == code; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool done_ = false;
};

class BlackBox : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x_.ok()) << "no X display " << display_;
    CleanDirectories();
  }
  void TearDown() override { CleanDirectories(); }

  Window WaitForWindow(Guard& g, const std::string& title) {
    Window w = 0;
    WaitFor([&] { return (w = x_.find(g.pid(), title)) != 0 || !g.alive(); });
    return w;
  }
  bool Locked(Window w) {
    return x_.viewable(w) && x_.has_state(w, "_NET_WM_STATE_ABOVE") && x_.geometry(w) == x_.screen() &&
           x_.has_state(w, "_NET_WM_STATE_MAXIMIZED_VERT") && x_.has_state(w, "_NET_WM_STATE_MAXIMIZED_HORZ");
  }
  bool Compact(Window w) {
    return x_.viewable(w) && x_.geometry(w) == Rect{0, 0, 41, 17} && !x_.has_state(w, "_NET_WM_STATE_ABOVE") &&
           !x_.has_state(w, "_NET_WM_STATE_MAXIMIZED_VERT");
  }
  void Xdo(const std::vector<std::string>& args) { EXPECT_TRUE(Xdotool(display_, args)) << args.front(); }
  void Key(Window w, const std::vector<std::string>& keys) {
    Xdo({"windowactivate", "--sync", std::to_string(w)});
    for (const auto& key : keys) Xdo({"key", key});
  }
  void Click(Window w, int x, int y) {
    Xdo({"mousemove", "--window", std::to_string(w), std::to_string(x), std::to_string(y), "click", "1"});
  }
  // The password prompt, answered with these keys.
  void Answer(Guard& g, Window main, const std::string& password) {
    Click(main, 20, 8);  // 设置
    const Window prompt = WaitForWindow(g, kPrompt);
    ASSERT_NE(prompt, 0u) << "no password prompt";
    Key(prompt, {});
    Xdo({"type", "--delay", "50", password});
    Xdo({"key", "Return"});
    ASSERT_TRUE(WaitFor([&] { return !x_.viewable(prompt); }));
  }
  // Red text (the labels') within r.
  int RedPixels(const Rect& r) {
    return x_.count_pixels(r, [](int red, int green, int blue) { return red > 180 && green < 90 && blue < 90; });
  }

  std::string display_ = Env("DISPLAY");
  X11 x_{display_};
};

// The first start: the file, the prompt and its answers, by an administrator
// and by a user who may not write the autostart folder. A second instance
// beside the first, with the flag still 0 after a Cancel, asks nothing and
// writes nothing. Until accepted, the prompt comes back at the next start.
TEST_F(BlackBox, FirstStartAsksWritesAndRemembers) {
  const struct { const char* answer; uid_t user; bool reply; char flag; } cases[] = {
      {"Escape", 0, false, '0'}, {"Return", 0, true, '1'}, {"Return", 65534, true, '0'}};  // 65534: nobody
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.answer << " as " << c.user);
    if (c.user != 0 && (geteuid() != 0 || Env("QORVEL_BLACKBOX_USERNS") == "1")) {
      std::puts("skipped: starting the program as another user needs real root");
      continue;
    }
    CleanDirectories();
    {
      Guard first(display_, c.user);
      const Window box = WaitForWindow(first, kBox);
      ASSERT_NE(box, 0u) << "no start-up prompt";
      EXPECT_EQ(ReadFile(kSettings), SettingsText()) << "the first-run file, before the answer";
      Key(box, {c.answer});
      if (c.reply) {
        Window reply = 0;
        ASSERT_TRUE(WaitFor([&] { return (reply = x_.find(first.pid(), kBox)) != 0 && reply != box; }));
        Key(reply, {"Return"});
      }
      ASSERT_NE(WaitForWindow(first, kMain), 0u) << "the main window did not come up";
      EXPECT_EQ(ReadFile(kSettings), SettingsText(test::kFirstRunHours, "907", c.flag));
      EXPECT_EQ(ReadFile(kAutostart).find("\nExec=" + std::string(QORVEL_EXE) + "\n") != std::string::npos,
                c.flag == '1');
      // The main window comes up only after the start-up sequence.
      Guard second(display_, c.user);
      ASSERT_NE(WaitForWindow(second, kMain), 0u);
      EXPECT_EQ(x_.find(second.pid(), kBox), 0u) << "the second instance asked";
      EXPECT_EQ(ReadFile(kSettings), SettingsText(test::kFirstRunHours, "907", c.flag));
    }
    Guard again(display_, c.user);
    EXPECT_TRUE(WaitFor([&] { return x_.find(again.pid(), c.flag == '1' ? kMain : kBox) != 0; }));
    EXPECT_EQ(x_.find(again.pid(), kBox) != 0, c.flag == '0');
  }
}

// The two layouts; each tick puts back what the user moved or minimised,
// and a window manager's close request is refused.
TEST_F(BlackBox, EachTickAppliesTheLayoutWhateverTheUserDid) {
  for (const bool locked : {false, true}) {
    SCOPED_TRACE(locked ? "no hour: locked" : "every hour: compact");
    WriteFile(kSettings, Registered(locked ? std::vector<int>{} : kEveryHour));
    Guard guard(display_);
    const Window main = WaitForWindow(guard, kMain);
    ASSERT_NE(main, 0u);
    const auto layout = [&] { return locked ? Locked(main) : Compact(main); };
    EXPECT_TRUE(WaitFor(layout)) << ToString(x_.geometry(main));
    Xdo({"windowminimize", "--sync", std::to_string(main)});
    EXPECT_TRUE(WaitFor(layout)) << "still minimised";
    if (!locked) {
      Xdo({"windowmove", "--sync", std::to_string(main), "300", "200"});
      EXPECT_TRUE(WaitFor(layout)) << "left where it was moved: " << ToString(x_.geometry(main));
    }
    x_.send_delete(main);
    ASSERT_TRUE(x_.ping(main)) << "the program stopped answering";
    EXPECT_TRUE(guard.alive() && x_.viewable(main) && layout());
  }
}

// Settings the program cannot read as text: it stays up and locks. (What
// hand-edited values mean is the core CheckHour table's.)
TEST_F(BlackBox, UnreadableSettingsLockAndTheProgramStaysUp) {
  for (const bool folder : {true, false}) {
    SCOPED_TRACE(folder ? "a folder" : "UTF-16 and control bytes");
    CleanDirectories();
    if (folder) fs::create_directory(kSettings);
    else WriteFile(kSettings, std::string("\xff\xfe[\0\x01HOUR]\n\x80=", 12));
    Guard guard(display_);
    Window main = 0;
    // A file that reads as unregistered asks first; Cancel goes on.
    ASSERT_TRUE(WaitFor([&] {
      if (const Window box = x_.find(guard.pid(), kBox)) Key(box, {"Escape"});
      return (main = x_.find(guard.pid(), kMain)) != 0 || !guard.alive();
    }));
    ASSERT_NE(main, 0u) << "ended";
    EXPECT_TRUE(WaitFor([&] { return Locked(main); }));
    EXPECT_TRUE(x_.ping(main) && guard.alive());
  }
}

// Two hours in 1..9 at least two hours away from now, so that adding them
// keeps the screen locked for the whole test.
std::pair<int, int> HoursAwayFromNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::vector<int> far;
  for (int h = 1; h <= 9; ++h)
    if (std::abs(h - local.tm_hour) >= 2) far.push_back(h);
  return {far[0], far[1]};
}

// The settings road, by mouse and keyboard: a wrong password opens nothing;
// the right one opens the settings window, where two hours are added, the
// first deleted again and a new password saved; closing it refreshes the
// hours line beside the buttons (red text right of 248 px, empty until
// then). The new password opens it again, and its end button ends the program.
TEST_F(BlackBox, SettingsRoad) {
  WriteFile(kSettings, Registered({}));
  Guard guard(display_);
  const Window main = WaitForWindow(guard, kMain);
  ASSERT_NE(main, 0u);
  ASSERT_TRUE(WaitFor([&] { return Locked(main); }));
  const Rect hours_line{248, 1, 700, 16};
  EXPECT_EQ(RedPixels(hours_line), 0) << "the hours line is not empty at start";

  Answer(guard, main, "123");
  ASSERT_TRUE(x_.ping(main));
  EXPECT_EQ(x_.find(guard.pid(), kForm2), 0u) << "a wrong password opened the settings";
  Answer(guard, main, "907");
  const Window settings = WaitForWindow(guard, kForm2);
  ASSERT_NE(settings, 0u) << "the right password did not open the settings window";
  const auto [first, second] = HoursAwayFromNow();
  for (const int hour : {first, second}) {
    // The hour picker has the focus at first, and again one Tab back from 添加.
    std::vector<std::string> keys{"Home"};
    keys.resize(static_cast<std::size_t>(hour), "Down");
    if (hour == second) keys.insert(keys.begin(), "shift+Tab");
    Key(settings, keys);
    Click(settings, 252, 50);  // 添加
    const std::string line = "hou" + std::to_string(hour) + "=" + std::to_string(hour) + "\r\n";
    EXPECT_TRUE(WaitFor([&] { return ReadFile(kSettings).find(line) != std::string::npos; }, 10s))
        << "hour " << hour << " was not added: " << ReadFile(kSettings);
  }
  Click(settings, 64, 128);   // the first hour in the list
  Click(settings, 248, 144);  // 删除时段
  Click(settings, 136, 305);  // the password
  Key(settings, {"ctrl+a", "4", "3", "2", "1"});
  Click(settings, 252, 306);  // 修改
  const std::string expected = SettingsText({second}, "4321", '1');
  EXPECT_TRUE(WaitFor([&] { return ReadFile(kSettings) == expected; }, 10s)) << ReadFile(kSettings);

  x_.send_delete(settings);
  ASSERT_TRUE(WaitFor([&] { return !x_.viewable(settings); })) << "the settings window did not close";
  EXPECT_TRUE(WaitFor([&] { return RedPixels(hours_line) > 20; })) << "the hours line stayed empty";
  EXPECT_TRUE(WaitFor([&] { return Locked(main); })) << "the hour check did not resume";
  Answer(guard, main, "4321");
  const Window again = WaitForWindow(guard, kForm2);
  ASSERT_NE(again, 0u) << "the new password did not open the settings window";
  Click(again, 100, 8);  // 结束Qorvel
  EXPECT_TRUE(WaitFor([&] { return guard.exited_with(0); })) << "the end button did not end the program";
  EXPECT_EQ(ReadFile(kSettings), expected);
}

// On two real monitors (Xorg's dummy driver): locked covers each from
// corner to corner, compact leaves the second free.
TEST(EveryMonitor, LockedCoversEveryMonitorAndCompactLeavesTheSecondFree) {
  const std::string display = Env("QORVEL_BLACKBOX_XORG_DISPLAY");
  if (display.empty()) GTEST_SKIP() << "no Xorg dummy display (needs root and xserver-xorg-video-dummy)";
  X11 x(display);
  ASSERT_TRUE(x.ok());
  std::vector<Rect> monitors;  // from xrandr --listmonitors
  FILE* pipe = popen(("DISPLAY=" + display + " xrandr --listmonitors").c_str(), "r");
  const std::regex geometry(R"((\d+)/\d+x(\d+)/\d+\+(\d+)\+(\d+))");
  std::cmatch m;
  for (char line[512]; pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr;)
    if (std::regex_search(line, m, geometry))
      monitors.push_back({std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[1]), std::stoi(m[2])});
  if (pipe != nullptr) pclose(pipe);
  ASSERT_GE(monitors.size(), 2u);
  CleanDirectories();
  WriteFile(kSettings, Registered({}));
  Guard guard(display);
  const auto covered = [&](const Rect& r) {
    for (const auto& [px, py] : std::vector<std::pair<int, int>>{{r.x + r.width / 2, r.y + r.height / 2}, {r.x, r.y},
                                                                 {r.x + r.width - 1, r.y + r.height - 1}})
      if (x.pid_on_top_at(px, py) != guard.pid()) return false;
    return true;
  };
  for (const Rect& r : monitors) EXPECT_TRUE(WaitFor([&] { return covered(r); })) << "not covered: " << ToString(r);
  WriteFile(kSettings, Registered(kEveryHour));
  EXPECT_TRUE(WaitFor([&] { return !covered(monitors[1]); })) << "the second monitor stayed covered";
  CleanDirectories();
}

// Without a display it can use, a clear message and exit code 1 before it
// touches any file, never Qt's abort.
TEST(NoDisplay, ItSaysSoAndExitsWithOne) {
  for (const std::string display : {"", ":4999"}) {
    const std::string shown = display.empty() ? "not set" : display;
    FILE* pipe = popen(("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                        (display.empty() ? "-u DISPLAY" : "DISPLAY=" + display) + " " + QORVEL_EXE + " 2>&1; echo $?")
                           .c_str(), "r");
    std::string out;
    for (char line[512]; pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr;) out += line;
    if (pipe != nullptr) pclose(pipe);
    EXPECT_TRUE(out.starts_with("qorvel: cannot open the X display (DISPLAY=" + shown + ")")) << out;
    EXPECT_TRUE(out.find("无法连接 X 显示") != std::string::npos && out.ends_with("\n1\n")) << out;
  }
}

}  // namespace
}  // namespace qorvel::blackbox
