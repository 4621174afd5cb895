#include "platform/portable/desktop_worker.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace qorvel::platform {

struct DesktopWorker::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;
  std::optional<std::vector<WindowId>> asked;
  std::optional<Answer> moving;  // windows and the desktop to bring them to
  std::optional<Answer> answer;
  bool stop = false;
  bool ended = false;  // no manager: nothing more is taken
  bool busy = true;    // making the manager or inside its calls

  void Run(const MakeManager& make);
};

void DesktopWorker::Shared::Run(const MakeManager& make) {
  std::unique_ptr<DesktopManager> manager = make();
  std::unique_lock lock(mutex);
  busy = false;
  if (manager == nullptr) {
    ended = true;
    asked.reset();
    moving.reset();
    return;
  }
  for (;;) {
    wake.wait(lock, [&] { return stop || asked || moving; });
    if (stop) break;
    auto windows = std::exchange(asked, std::nullopt);
    auto moves = std::exchange(moving, std::nullopt);
    busy = true;
    lock.unlock();
    // The calls that may wait, with nothing held.
    if (moves) {
      for (const auto w : moves->away) manager->move_to_desktop(w, moves->desktop);
    }
    std::optional<Answer> found;
    if (windows) {
      found.emplace();
      for (const auto w : *windows) {
        if (manager->on_current_desktop(w) == false) found->away.push_back(w);
      }
      if (!found->away.empty()) found->desktop = manager->foreground_desktop().value_or("");
    }
    lock.lock();
    busy = false;
    if (found) answer = std::move(found);
  }
  lock.unlock();
  manager.reset();  // on the thread that made it
}

DesktopWorker::DesktopWorker(MakeManager make) : shared_(std::make_shared<Shared>()) {
  shared_->thread = std::thread([shared = shared_, make = std::move(make)] { shared->Run(make); });
}

DesktopWorker::~DesktopWorker() {
  std::unique_lock lock(shared_->mutex);
  shared_->stop = true;
  const bool hung = shared_->busy;
  lock.unlock();
  shared_->wake.notify_all();
  if (hung) {
    shared_->thread.detach();
  } else {
    shared_->thread.join();
  }
}

void DesktopWorker::ask(std::vector<WindowId> windows) {
  {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->ended) return;
    shared_->asked = std::move(windows);
  }
  shared_->wake.notify_all();
}

std::optional<VirtualDesktops::Answer> DesktopWorker::take_answer() {
  const std::lock_guard lock(shared_->mutex);
  return std::exchange(shared_->answer, std::nullopt);
}

void DesktopWorker::move(std::vector<WindowId> windows, std::string desktop) {
  {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->ended) return;
    shared_->moving = Answer{std::move(windows), std::move(desktop)};
  }
  shared_->wake.notify_all();
}

}  // namespace qorvel::platform
