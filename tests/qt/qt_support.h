#pragma once
// Helpers of the Qt view tests: waiting on conditions while Qt runs, the
// window manager's view of a window, and acting inside modal loops.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace qorvel::test {

// Runs Qt's events until cond holds or the deadline passes; a busy machine
// only makes it slower, never wrong.
bool WaitFor(const std::function<bool()>& cond, int deadline_ms = 15000);

// The window's rectangle on the root window as the X server has it.
std::optional<QRect> XGeometry(const QWidget& window);
// The atom is in the window's _NET_WM_STATE.
bool NetWmState(const QWidget& window, std::string_view atom);
// The window manager has mapped the window and has settled its states.
bool Settled(const QWidget& window);
// A window manager has set _NET_SUPPORTING_WM_CHECK.
bool WindowManagerRunning();
// The active window as the window manager names it (_NET_ACTIVE_WINDOW).
std::optional<unsigned long> ActiveWindow();
// Switches the window manager to another workspace, as Ctrl+Alt+arrow does;
// true once it has.
bool SwitchDesktop(unsigned desktop);
// Sends WM_DELETE_WINDOW as a window manager's close button does.
void SendDeleteWindow(const QWidget& window);

// A child widget's text (a button's, a label's or a group's title) and its
// place in its parent; width or height -1: sized to its text, only known to
// be there. ExpectPlaced checks them and returns the child.
struct Placed {
  const char* name;
  const char* text;
  int left, top, width, height;
};
const QWidget* ExpectPlaced(const QWidget& parent, const Placed& p);

// Acts on modal windows from inside their own loops: each step waits until
// the top modal widget satisfies `is`, then acts on it. A step that never
// comes closes every modal window after the deadline rather than hang, and so does one left over.
struct ModalStep {
  std::function<bool(QWidget*)> is;
  std::function<void(QWidget*)> act;
};
class ModalSteps {
 public:
  explicit ModalSteps(std::vector<ModalStep> steps);
  ~ModalSteps();
  [[nodiscard]] std::size_t done() const { return next_; }
  [[nodiscard]] bool all_done() const { return next_ == steps_.size(); }

 private:
  void Poll();
  std::vector<ModalStep> steps_;
  std::size_t next_ = 0;
  QTimer timer_;
  QElapsedTimer waited_;
};

template <class W> W* Child(const QWidget* parent, const char* name) {
  return parent->findChild<W*>(QString::fromUtf8(name));
}
template <class W> std::function<bool(QWidget*)> Is() {
  return [](QWidget* w) { return dynamic_cast<W*>(w) != nullptr; };
}

}  // namespace qorvel::test
