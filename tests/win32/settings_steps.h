#pragma once
// Drives modal windows from inside their own message loops: a thread timer
// runs the next step each time it fires, until every step reports done.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qorvel::test {

// A visible top-level window of this thread, by class and caption.
inline HWND FindOwnWindow(const wchar_t* window_class, const wchar_t* caption) {
  struct Query { const wchar_t* cls; const wchar_t* caption; HWND found; } q{window_class, caption, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* query = reinterpret_cast<Query*>(lp);
        wchar_t cls[64] = {}, text[128] = {};
        GetClassNameW(hwnd, cls, 64);
        GetWindowTextW(hwnd, text, 128);
        if (IsWindowVisible(hwnd) && lstrcmpiW(cls, query->cls) == 0 && lstrcmpW(text, query->caption) == 0) {
          query->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&q));
  return q.found;
}

class Steps {
 public:
  // A step returns false to be tried again at the next tick (its window is
  // not up yet), true when it has done its part.
  using Step = std::function<bool()>;

  explicit Steps(std::vector<Step> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 20, &Steps::OnTimer);
  }
  ~Steps() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
    EXPECT_EQ(next_, steps_.size()) << "steps left undone";
  }
  Steps(const Steps&) = delete;
  Steps& operator=(const Steps&) = delete;

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    Steps* self = current_;
    if (self == nullptr || self->busy_ || self->next_ >= self->steps_.size()) return;
    self->busy_ = true;
    if (self->steps_[self->next_]()) {
      ++self->next_;
      self->waited_ = 0;
    } else if (++self->waited_ > 250) {
      // About five seconds without the expected window: give up rather than hang.
      ADD_FAILURE() << "step " << self->next_ << " never found its window";
      self->next_ = self->steps_.size();
      EnumThreadWindows(GetCurrentThreadId(), [](HWND hwnd, LPARAM) -> BOOL {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        return TRUE;
      }, 0);
    }
    self->busy_ = false;
  }

  static inline Steps* current_ = nullptr;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int waited_ = 0;
  bool busy_ = false;
  UINT_PTR timer_ = 0;
};

inline std::wstring WindowText(HWND hwnd) {
  wchar_t buf[512] = {};
  GetWindowTextW(hwnd, buf, 512);
  return buf;
}

inline void Type(HWND edit, std::wstring_view text) {
  for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

}  // namespace qorvel::test
