// Watches a window's map state from a client of its own, as fast as the X
// server answers, for the black-box test's unmap parts:
//   map_probe back WINDOW       after the next UnmapNotify of WINDOW, how many
//                               ms until it is viewable again (prints "ready" first)
//   map_probe loop WINDOW MS S  unmaps WINDOW every MS ms for S seconds and
//                               prints "viewable SEEN of SAMPLES" (a sample a ms)
//   map_probe closes WINDOW MS S  the same with a close request (WM_DELETE_WINDOW)
//                               sent to WINDOW, as any client may send one
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
      &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

int Loop(xcb_connection_t* c, xcb_window_t w, bool close, int every_ms, int seconds) {
  // The requests come from a connection of their own, as from another program.
  xcb_connection_t* other = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(other) != 0) return 2;
  xcb_client_message_event_t request{};
  request.response_type = XCB_CLIENT_MESSAGE;
  request.format = 32;
  request.window = w;
  request.type = Atom(other, "WM_PROTOCOLS");
  request.data.data32[0] = Atom(other, "WM_DELETE_WINDOW");
  request.data.data32[1] = XCB_CURRENT_TIME;
  const auto start = Clock::now();
  auto next_unmap = start;
  long seen = 0, samples = 0;
  while (Clock::now() - start < std::chrono::seconds(seconds)) {
    if (Clock::now() >= next_unmap) {
      if (close) xcb_send_event(other, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
      else xcb_unmap_window(other, w);
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
  if ((mode == "loop" || mode == "closes") && argc == 5)
    return Loop(c, w, mode == "closes", std::stoi(argv[3]), std::stoi(argv[4]));
  return 2;
}
