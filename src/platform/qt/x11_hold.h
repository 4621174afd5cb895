#pragma once
// The lock held against the other clients of the X server. Any X client may
// unmap or cover another's windows, and the window manager's keys (Alt+Tab,
// Super) move the focus away. While the lock window is topmost (the locked
// layout, and the password prompt over it), the hold keeps the keyboard and
// the pointer in an active grab, as screen lockers do, and maps and raises
// the lock's windows again as soon as the X server reports them unmapped or
// covered. While held, the windows bypass the window manager (override-
// redirect) and size themselves to their monitors: a managed window that is
// unmapped is let go and managed anew by the window manager, which leaves it
// unmapped far longer and may leave it smaller than its monitor. The guard's
// own dialogs stay above the lock, and the grabs let them get their input as
// usual (owner_events). In the compact layout and while the settings window
// is open (the lock is then not topmost) it holds nothing, and the window
// manager has the windows back.
// Off X11 it does nothing.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace qorvel::platform::qt {

class X11Hold final : public QObject, public QAbstractNativeEventFilter {
 public:
  // How often a missing grab is taken again, and an unmapped window mapped,
  // when no event has done it first.
  static constexpr int kRetryMs = 250;

  // Holds `lock` and, once they announce themselves, the covers. One per process.
  explicit X11Hold(QWidget& lock);
  ~X11Hold() override;
  X11Hold(const X11Hold&) = delete;
  X11Hold& operator=(const X11Hold&) = delete;

  // Hooks for the windows; they do nothing when the process has no hold.
  // The lock's topmost state was set (at every tick): take or drop the hold.
  static void Follow();
  // A cover of another monitor, held with the lock while it lives.
  static void Watch(QWidget& cover);

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

 private:
  struct Held {
    QPointer<QWidget> widget;
    std::uint32_t window = 0;
    bool mapped = true;
    Qt::WindowFlags selected_with;  // the flags when VisibilityNotify was last asked for
    bool bypassing = false;         // override-redirect, held to `place`
    QRect place;                    // its monitor (the lock) or its own rectangle (a cover)
    bool on_root = false;           // bypassing and seen out of the window manager's frame
  };

  [[nodiscard]] bool Holding() const;
  void Check();
  void CheckSoon();
  void Grab(QWidget& target);
  void Release();
  void Restore(Held& held);
  void Raise(Held& held);
  void Bypass(Held& held, bool on);
  void Fit(Held& held);
  void LeaveFrame(Held& held);
  void WriteStates(std::uint32_t window, const std::vector<std::uint32_t>& states);
  void KeepStates(Held& held);
  void StackUnder(QWidget& dialog);
  [[nodiscard]] std::vector<std::uint32_t> HeldStates(const Held& held) const;
  void Add(QWidget& widget);
  Held* Find(std::uint32_t window);

  struct Atoms {
    std::uint32_t state, desktop, above, skip_taskbar, skip_pager, maximized_vert, maximized_horz;
  };

  QWidget& lock_;
  Atoms atoms_{};
  std::vector<Held> held_;
  QTimer retry_;
  std::uint32_t grab_window_ = 0;  // the window both grabs were given to, 0 if none
  bool grabbed_ = false;           // both grabs known held
  bool focus_lost_ = false;        // the focus may have left the grab window
  bool check_pending_ = false;
};

}  // namespace qorvel::platform::qt
