#include "guard/covers.h"

#include <algorithm>

namespace qorvel::guard {
namespace {

// Monitors to cover: not empty, not overlapping the main window's monitor (a
// cover there would hide the settings button of a mirrored screen), no
// duplicates.
std::vector<ScreenRect> Wanted(const std::vector<ScreenRect>& monitors, const ScreenRect& main) {
  std::vector<ScreenRect> wanted;
  for (const auto& m : monitors) {
    if (m.empty() || m.overlaps(main)) continue;
    if (std::find(wanted.begin(), wanted.end(), m) == wanted.end()) wanted.push_back(m);
  }
  return wanted;
}

}  // namespace

void Covers::Lock() {
  const auto monitors = view_.monitors();
  const auto main = view_.main_window_monitor();
  // A failed reading keeps what is there: a passing glitch must not free a
  // monitor, and there is nothing to add without knowing the main one.
  if (monitors && !monitors->empty() && main) Follow(Wanted(*monitors, *main));
  for (const auto& c : covers_) view_.set_cover_topmost(c.id, true);
  KeepOnCurrentDesktop();
}

void Covers::Follow(const std::vector<ScreenRect>& wanted) {
  // A moved or resized monitor is a new rectangle: its old cover goes.
  std::erase_if(covers_, [&](const Cover& c) {
    const bool stale = std::find(wanted.begin(), wanted.end(), c.rect) == wanted.end();
    if (stale) view_.destroy_cover(c.id);
    return stale;
  });
  for (const auto& rect : wanted) {
    const bool covered = std::any_of(covers_.begin(), covers_.end(), [&](const Cover& c) { return c.rect == rect; });
    if (covered) continue;
    // One that failed is tried again at the next tick.
    if (const auto id = view_.create_cover(rect); id != 0) covers_.push_back({rect, id});
  }
}

// Acts on the latest answer, which may be ticks old, then asks afresh; the
// tick never waits for either.
void Covers::KeepOnCurrentDesktop() {
  if (desktops_ == nullptr) return;
  std::vector<platform::WindowId> windows{view_.main_window()};
  for (const auto& c : covers_) windows.push_back(c.id);
  std::erase(windows, platform::WindowId{0});
  if (auto answer = desktops_->take_answer(); answer && !answer->desktop.empty()) {
    // A cover removed since the question is not moved.
    std::erase_if(answer->away, [&](auto w) { return std::find(windows.begin(), windows.end(), w) == windows.end(); });
    if (!answer->away.empty()) desktops_->move(std::move(answer->away), std::move(answer->desktop));
  }
  desktops_->ask(std::move(windows));
}

void Covers::Release() {
  for (const auto& c : covers_) view_.destroy_cover(c.id);
  covers_.clear();
}

void Covers::Lower() {
  for (const auto& c : covers_) view_.set_cover_topmost(c.id, false);
}

}  // namespace qorvel::guard
