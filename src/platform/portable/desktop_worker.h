#pragma once
// Virtual desktops off the window's thread: a worker thread of its own makes
// the manager once and makes every call that may wait. The window's thread
// only hands over requests and picks up answers.
#include <functional>
#include <memory>

#include "platform/virtual_desktops.h"

namespace qorvel::platform {

class DesktopWorker final : public VirtualDesktops {
 public:
  // Runs once, on the worker's thread (where COM wants the manager made); a
  // null manager means no virtual desktops, and the worker ends.
  using MakeManager = std::function<std::unique_ptr<DesktopManager>()>;

  explicit DesktopWorker(MakeManager make);
  // Never waits for a manager call under way: a hung worker is left behind.
  ~DesktopWorker() override;
  DesktopWorker(const DesktopWorker&) = delete;
  DesktopWorker& operator=(const DesktopWorker&) = delete;

  // Each replaces a request of the same kind the worker has not begun.
  void ask(std::vector<WindowId> windows) override;
  [[nodiscard]] std::optional<Answer> take_answer() override;
  void move(std::vector<WindowId> windows, std::string desktop) override;

  struct Shared;  // between the two threads; the worker may outlive this

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace qorvel::platform
