// The covers over the other monitors and the lock's virtual desktop, driven
// through the main window's hour check.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/portable/desktop_worker.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using guard::ScreenRect;
using test::Log;

constexpr ScreenRect kMain{0, 0, 1280, 1024};
constexpr ScreenRect kRight{1280, 0, 2304, 768};
constexpr ScreenRect kLeft{-800, 0, 0, 600};
const Log kCompact = {"pos -2 3", "state normal", "top 0", "left 0", "width 615", "height 260"};
const Log kLocked = {"L1 2026/12/6 0:30:0", "state maximized", "pos -1 3"};

Log Then(Log first, const Log& more) { first.insert(first.end(), more.begin(), more.end()); return first; }

struct Rig : test::FakeGuard {
  test::FakeScreen screens{fx.log};
  guard::Covers covers;
  explicit Rig(platform::VirtualDesktops* worker = nullptr) : covers{screens, worker ? worker : &screens} {
    form.set_covers(&covers);
    SetFile("[HOUR]\r\nhou1=1\r\n");  // locked at 00:30, compact at 01:30
  }
  Log Tick(int hour = 0) { fx.clock.set_hour(hour, 30); return Calls([&] { form.Timer1_Timer(); }); }
};

TEST(Covers, EveryOtherMonitorIsCoveredAfterTheMainWindowsOwnCalls) {
  const struct { const char* what; std::optional<std::vector<ScreenRect>> monitors; std::optional<ScreenRect> main;
                 Log covers; } cases[] = {
      {"two", std::vector{kMain, kRight}, kMain, {"cover 1280,0,2304,768", "raise 1280,0,2304,768"}},
      {"the main window on the right", std::vector{kMain, kRight}, kRight, {"cover 0,0,1280,1024", "raise 0,0,1280,1024"}},
      {"a monitor of zero size", std::vector{kMain, ScreenRect{1280, 0, 1280, 768}}, kMain, {}},
      {"a mirror of the main monitor", std::vector{kMain, ScreenRect{0, 0, 1024, 768}}, kMain, {}},
      {"monitors unreadable", std::nullopt, kMain, {}},
      {"the main window's monitor unknown", std::vector{kMain, kRight}, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    Rig r;
    r.screens.screens = c.monitors;
    r.screens.main = c.main;
    EXPECT_EQ(r.Tick(), Then(kLocked, c.covers)) << c.what;
  }
}

TEST(Covers, FollowTheMonitorSetFromTickToTick) {
  const ScreenRect moved{1280, 256, 2304, 1024};
  const struct { const char* what; std::vector<ScreenRect> monitors; int hour; Log covers; bool fails = false; } steps[] = {
      {"second monitor, its cover not made", {kMain, kRight}, 0, {"cover 1280,0,2304,768"}, true},
      {"tried again", {kMain, kRight}, 0, {"cover 1280,0,2304,768", "raise 1280,0,2304,768"}},
      {"same set: only topmost again", {kMain, kRight}, 0, {"raise 1280,0,2304,768"}},
      {"plugged in", {kMain, kRight, kLeft}, 0, {"cover -800,0,0,600", "raise 1280,0,2304,768", "raise -800,0,0,600"}},
      {"unplugged", {kMain, kLeft}, 0, {"uncover 1280,0,2304,768", "raise -800,0,0,600"}},
      {"a glitch listing none keeps the covers", {}, 0, {"raise -800,0,0,600"}},
      {"moved", {kMain, moved}, 0, {"uncover -800,0,0,600", "cover 1280,256,2304,1024", "raise 1280,256,2304,1024"}},
      {"compact removes all", {kMain, moved}, 1, {"uncover 1280,256,2304,1024"}},
      {"locked again", {kMain, moved}, 0, {"cover 1280,256,2304,1024", "raise 1280,256,2304,1024"}},
  };
  Rig r;
  for (const auto& s : steps) {
    r.screens.screens = s.monitors;
    r.screens.fail_creates = s.fails;
    EXPECT_EQ(r.Tick(s.hour), Then(s.hour == 0 ? kLocked : kCompact, s.covers)) << s.what;
  }
  EXPECT_EQ(r.screens.shown.size(), 1u);
}

TEST(Covers, LockWindowsAwayFromTheCurrentDesktopAreBroughtToItAtTheNextTick) {
  constexpr platform::WindowId kMainId = test::FakeScreen::kMain;
  constexpr platform::WindowId kCover = 1;  // the first cover made
  const struct { const char* what; bool available; std::string here; std::map<platform::WindowId, std::string> on;
                 Log moves; bool unplug = false; } cases[] = {
      {"the user made a new desktop", true, "B", {{kMainId, "A"}, {kCover, "A"}}, {"move 1000 to B", "move 1 to B"}},
      {"only the cover is away", true, "A", {{kCover, "B"}}, {"move 1 to A"}},
      {"no virtual desktops (Wine, older Windows)", false, "B", {{kMainId, "A"}, {kCover, "A"}}, {}},
      {"the foreground window's desktop unknown", true, "", {{kMainId, "A"}}, {}},
      {"a cover gone is not moved", true, "B", {{kMainId, "A"}, {kCover, "A"}}, {"move 1000 to B"}, true},
  };
  for (const auto& c : cases) {
    Rig r;
    r.screens.available = c.available;
    r.screens.here = c.here;
    r.screens.desktop_of = c.on;
    EXPECT_EQ(r.Tick(), Then(kLocked, {"cover 1280,0,2304,768", "raise 1280,0,2304,768"})) << c.what;
    if (c.unplug) r.screens.screens = std::vector{kMain};
    const Log covers = {c.unplug ? "uncover 1280,0,2304,768" : "raise 1280,0,2304,768"};
    EXPECT_EQ(r.Tick(), Then(kLocked, Then(covers, c.moves))) << c.what;
  }
}

// A manager hung as Explorer can hang: its calls block until the test
// releases them or 10 s pass. It says the main window is away.
struct Hung {
  std::mutex m;
  std::condition_variable cv;
  bool inside = false, released = false, returned = false;
  std::vector<platform::WindowId> moved;
  struct Manager final : platform::DesktopManager {
    explicit Manager(std::shared_ptr<Hung> hung) : h(std::move(hung)) {}
    std::optional<bool> on_current_desktop(platform::WindowId w) override {
      std::unique_lock lock(h->m);
      h->inside = true;
      h->cv.notify_all();
      h->cv.wait_for(lock, std::chrono::seconds(10), [&] { return h->released; });
      h->returned = true;
      return w != test::FakeScreen::kMain;
    }
    std::optional<std::string> foreground_desktop() override { return "B"; }
    bool move_to_desktop(platform::WindowId w, std::string_view) override {
      const std::lock_guard lock(h->m);
      h->moved.push_back(w);
      h->cv.notify_all();
      return true;
    }
    std::shared_ptr<Hung> h;
  };
};

TEST(DesktopWorker, AHungManagerLeavesTheTicksAtTheirPaceAndItsLateAnswerIsActedOn) {
  const auto hung = std::make_shared<Hung>();
  platform::DesktopWorker worker([hung] { return std::make_unique<Hung::Manager>(hung); });
  Rig r(&worker);
  r.screens.screens = std::vector{kMain};
  r.Tick();
  std::unique_lock lock(hung->m);
  ASSERT_TRUE(hung->cv.wait_for(lock, std::chrono::seconds(10), [&] { return hung->inside; }));
  lock.unlock();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(r.Tick(), kLocked) << "tick " << i;
  lock.lock();
  EXPECT_FALSE(hung->returned) << "a tick waited for the manager";
  hung->released = true;
  hung->cv.notify_all();
  for (int i = 0; i < 200 && hung->moved.empty(); ++i) {  // the answer comes when the worker is done
    lock.unlock();
    r.Tick();
    lock.lock();
    hung->cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return !hung->moved.empty(); });
  }
  EXPECT_EQ(hung->moved, std::vector<platform::WindowId>{test::FakeScreen::kMain});
}

}  // namespace
}  // namespace qorvel
