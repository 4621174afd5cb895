// Watches a window's map state from a client of its own, as fast as the X
// server answers, for the black-box test's unmap parts:
//   map_probe back WINDOW       after the next UnmapNotify of WINDOW, how many
//                               ms until it is viewable again (prints "ready" first)
//   map_probe loop WINDOW MS S  unmaps WINDOW every MS ms for S seconds and
//                               prints "viewable SEEN of SAMPLES" (a sample a ms)
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

bool Viewable(xcb_connection_t* c, xcb_window_t w) {
  std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr), &std::free);
  return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

int Back(xcb_connection_t* c, xcb_window_t w) {
  const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // the selection is in place
  std::printf("ready\n");
  std::fflush(stdout);
  while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
    const bool unmapped = (e->response_type & 0x7F) == XCB_UNMAP_NOTIFY;
    std::free(e);
    if (!unmapped) continue;
    const auto from = Clock::now();
    while (!Viewable(c, w)) {
      if (Clock::now() - from > std::chrono::seconds(10)) return std::printf("never\n"), 1;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count();
    std::printf("%lld\n", static_cast<long long>(ms));
    return 0;
  }
  return 1;
}

int Loop(xcb_connection_t* c, xcb_window_t w, int every_ms, int seconds) {
  // The unmaps come from a connection of their own, as from another program.
  xcb_connection_t* other = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(other) != 0) return 2;
  const auto start = Clock::now();
  auto next_unmap = start;
  long seen = 0, samples = 0;
  while (Clock::now() - start < std::chrono::seconds(seconds)) {
    if (Clock::now() >= next_unmap) {
      xcb_unmap_window(other, w);
      xcb_flush(other);
      next_unmap += std::chrono::milliseconds(every_ms);
    }
    seen += Viewable(c, w) ? 1 : 0;
    ++samples;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  xcb_disconnect(other);
  std::printf("viewable %ld of %ld\n", seen, samples);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c) != 0) return 2;
  const auto w = static_cast<xcb_window_t>(std::stoul(argv[2], nullptr, 0));
  const std::string mode = argv[1];
  if (mode == "back") return Back(c, w);
  if (mode == "loop" && argc == 5) return Loop(c, w, std::stoi(argv[3]), std::stoi(argv[4]));
  return 2;
}
