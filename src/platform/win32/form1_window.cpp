#include "platform/win32/form1_window.h"

#include <array>

#include "platform/win32/lock_hold.h"
#include "platform/win32/lock_tick.h"
#include "platform/win32/text.h"
#include "platform/win32/window_object.h"

namespace qorvel::platform::win32 {
namespace {

constexpr wchar_t kClassName[] = L"QorvelForm1";
constexpr int kDesignWidth = 15555;   // twips, client = outer: no border
constexpr int kDesignHeight = 14055;
constexpr COLORREF kLabelText = RGB(255, 0, 0);
constexpr wchar_t kLabelFace[] = L"微软雅黑";

struct ControlDef {
  int id;
  bool button;
  const wchar_t* text;
  int left, top, width, height;  // twips; labels size themselves
};

// Later rows sit above earlier ones, so Command3 covers the last pixel of
// Command2 as the compact layout expects.
constexpr std::array<ControlDef, 9> kControls{{
    {Form1Window::kCommand2, true, L"设置", 0, 0, 615, 255},
    {Form1Window::kCommand3, true, L"关机", 600, 0, 615, 255},
    {Form1Window::kCommand1, true, L"锁屏", 1200, 0, 615, 255},
    {Form1Window::kCommand5, true, L"学习加时", 1800, 0, 900, 255},
    {Form1Window::kCommand4, true, L"可用时段", 2700, 0, 900, 255},
    {Form1Window::kLabel2, false, L"", 3720, 0, 0, 0},
    {Form1Window::kL1, false, L"Label1", 0, 360, 0, 0},
    {Form1Window::kLabel1, false, L"当前锁屏中>>>", 0, 2040, 0, 0},
    {Form1Window::kLabel3, false, L"", 0, 2760, 0, 0},
}};

int ScreenDpi(int index) {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, index);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

// Point sizes in hundredths, so 10.5 and 26.25 stay exact.
HFONT LabelFont(int hundredths_of_point, int dpi) {
  return CreateFontW(-MulDiv(hundredths_of_point, dpi, 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, kLabelFace);
}

// The message font is what current Windows uses for button text;
// DEFAULT_GUI_FONT is a fixed 8 pt font that ignores the DPI.
HFONT ButtonFont(int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    LOGFONTW fallback{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(fallback), &fallback);
    metrics.lfMessageFont = fallback;
  }
  // The metrics are at the system DPI; the window may be on another monitor.
  metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, ScreenDpi(LOGPIXELSY));
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, kClassName, &wc)) return;
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // The executable's own icon (resource 1) in the caption and task bar; null,
  // the system's default, in test programs that carry none.
  wc.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_DESKTOP + 1));
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
}

}  // namespace

Form1Window::Form1Window(platform::Services& services) : form_(services, *this) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance, &Form1Window::WndProc);
  dpi_x_ = ScreenDpi(LOGPIXELSX);
  dpi_y_ = ScreenDpi(LOGPIXELSY);
  // A tool window has no task-bar button and stays out of Alt+Tab without
  // needing a hidden owner. WS_POPUP: no border, so outer size = client size.
  CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"Qorvel", WS_POPUP | WS_CLIPCHILDREN, CW_USEDEFAULT,
                  CW_USEDEFAULT, TwipsToPixelsX(kDesignWidth), TwipsToPixelsY(kDesignHeight), nullptr,
                  nullptr, instance, this);
  if (hwnd_ == nullptr) return;
  CreateFonts();
  CreateControls();
  LayOutControls();
}

Form1Window::~Form1Window() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  DestroyFonts();
}

void Form1Window::show() {
  if (hwnd_ == nullptr) return;  // unloaded during Form_Load
  // Queued first: it comes before anything another program posts once the
  // window shows.
  PostMessageW(hwnd_, kShownMessage, 0, 0);
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  shown_ = true;
  ArmTimer();
}

int Form1Window::TwipsToPixelsX(int twips) const { return MulDiv(twips, dpi_x_, 1440); }
int Form1Window::TwipsToPixelsY(int twips) const { return MulDiv(twips, dpi_y_, 1440); }

void Form1Window::CreateFonts() {
  DestroyFonts();
  button_font_ = ButtonFont(dpi_y_);
  hours_font_ = LabelFont(1050, dpi_y_);
  clock_font_ = LabelFont(7200, dpi_y_);
  banner_font_ = LabelFont(2625, dpi_y_);
}

void Form1Window::DestroyFonts() {
  for (HFONT* font : {&button_font_, &hours_font_, &clock_font_, &banner_font_}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
}

void Form1Window::CreateControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const auto& c : kControls) {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS |
                        (c.button ? DWORD{BS_PUSHBUTTON} : DWORD{SS_LEFTNOWORDWRAP | SS_NOPREFIX});
    HWND control = CreateWindowExW(0, c.button ? L"BUTTON" : L"STATIC", c.text, style, 0, 0, 0, 0, hwnd_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
    SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    controls_[c.id] = control;
  }
}

HWND Form1Window::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void Form1Window::LayOutControls() {
  for (const auto& c : kControls) {
    HWND control = GetDlgItem(hwnd_, c.id);
    HFONT font = button_font_;
    if (c.id == kL1) font = clock_font_;
    if (c.id == kLabel1 || c.id == kLabel3) font = banner_font_;
    if (c.id == kLabel2) font = hours_font_;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowPos(control, nullptr, TwipsToPixelsX(c.left), TwipsToPixelsY(c.top),
                 TwipsToPixelsX(c.width), TwipsToPixelsY(c.height), SWP_NOZORDER | SWP_NOACTIVATE);
    if (!c.button) FitLabelToText(c.id);
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void Form1Window::FitLabelToText(int id) {
  HWND label = Control(id);
  const std::wstring text = WindowText(label);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  SetWindowPos(label, nullptr, 0, 0, extent.cx, metrics.tmHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::SetLabelText(int id, std::string_view utf8) {
  if (hwnd_ == nullptr) return;
  // The clock is set at every tick and changes once a second: the same text
  // is neither set, measured nor drawn again.
  const std::wstring text = Widen(utf8);
  HWND label = Control(id);
  if (WindowText(label) == text) return;
  SetWindowTextW(label, text.c_str());
  FitLabelToText(id);
}

void Form1Window::set_clock_text(std::string_view text) { SetLabelText(kL1, text); }
void Form1Window::set_hours_text(std::string_view text) { SetLabelText(kLabel2, text); }
void Form1Window::set_unlock_text(std::string_view text) { SetLabelText(kLabel3, text); }

void Form1Window::show_notice(std::string_view text) {
  if (hwnd_ != nullptr) notice_.Show(hwnd_, Widen(text));
}

std::string Form1Window::hours_text() const {
  if (hwnd_ == nullptr) return {};
  return Narrow(WindowText(Control(kLabel2)));
}

void Form1Window::unload() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  PostOwnQuit(0);
}

void Form1Window::set_window_pos(int insert_after, unsigned flags) {
  if (hwnd_ == nullptr) return;
  const bool locked = insert_after == platform::kHwndTopmost;
  HoldMainWindow(hwnd_, locked);
  // Both callers keep the size and place; the hold puts back the rest.
  if (locked && StandsInFront(hwnd_, placed_)) return;
  SetWindowPos(hwnd_, reinterpret_cast<HWND>(static_cast<INT_PTR>(insert_after)), 0, 0, 0, 0, flags);
  placed_ = {};
  if (locked) GetWindowRect(hwnd_, &placed_);
}

void Form1Window::set_window_state(platform::WindowState state) {
  if (hwnd_ == nullptr) return;
  // Only on a real change: showing again would activate the window twice a
  // second.
  const bool visible = IsWindowVisible(hwnd_) != FALSE;
  if (state == platform::WindowState::maximized) {
    if (!visible || !IsZoomed(hwnd_)) ShowWindow(hwnd_, SW_SHOWMAXIMIZED);
  } else {
    // A window minimised from maximised comes back maximised: two steps.
    if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
    if (!visible || IsZoomed(hwnd_)) ShowWindow(hwnd_, SW_SHOWNORMAL);
  }
}

// Each compact tick sets all four; one that already holds changes nothing
// and stays away from the window system.
void Form1Window::set_top(int twips) {
  if (hwnd_ == nullptr) return;
  RECT r{};
  GetWindowRect(hwnd_, &r);
  if (r.top == TwipsToPixelsY(twips)) return;
  SetWindowPos(hwnd_, nullptr, r.left, TwipsToPixelsY(twips), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::set_left(int twips) {
  if (hwnd_ == nullptr) return;
  RECT r{};
  GetWindowRect(hwnd_, &r);
  if (r.left == TwipsToPixelsX(twips)) return;
  SetWindowPos(hwnd_, nullptr, TwipsToPixelsX(twips), r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::set_width(int twips) {
  if (hwnd_ == nullptr) return;
  RECT r{};
  GetWindowRect(hwnd_, &r);
  if (r.right - r.left == TwipsToPixelsX(twips)) return;
  SetWindowPos(hwnd_, nullptr, 0, 0, TwipsToPixelsX(twips), r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::set_height(int twips) {
  if (hwnd_ == nullptr) return;
  RECT r{};
  GetWindowRect(hwnd_, &r);
  if (r.bottom - r.top == TwipsToPixelsY(twips)) return;
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, TwipsToPixelsY(twips),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1Window::set_enabled(bool enabled) {
  timer_enabled_ = enabled;
  if (enabled) {
    ArmTimer();
  } else if (timer_armed_) {
    KillTimer(hwnd_, kTimer1);
    timer_armed_ = false;
    ArmTimer();
  }
}

// Ticks wait for show(): none may reach a window not yet shown. The
// guardian hears from the window's thread at each of Timer1's ticks, and
// from a timer of its own while Timer1 is off: one wake-up a tick, not two.
void Form1Window::ArmTimer() {
  if (hwnd_ == nullptr || !shown_) return;
  if (timer_enabled_ && !timer_armed_) timer_armed_ = SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr) != 0;
  if (timer_armed_ && heartbeat_armed_) {
    KillTimer(hwnd_, kHeartbeat);
    heartbeat_armed_ = false;
  } else if (!timer_armed_ && !heartbeat_armed_) {
    heartbeat_armed_ = SetTimer(hwnd_, kHeartbeat, kTimer1Interval, nullptr) != 0;
  }
}

LRESULT CALLBACK Form1Window::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = WindowObject<Form1Window>(hwnd, msg, lp);
  if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCCREATE) self->hwnd_ = hwnd;
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->timer_armed_ = false;
    self->heartbeat_armed_ = false;
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  return self->Handle(msg, wp, lp);
}

LRESULT Form1Window::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (LRESULT held = 0; HoldLockWindow(hwnd_, msg, wp, lp, &held)) return held;
  if (msg == WM_DISPLAYCHANGE) placed_ = {};  // the next locked tick asks the system again
  switch (msg) {
    case WM_TIMER:
      if (wp == kTimer1) form_.Timer1_Timer();
      // Not after an unload in the tick: the guard has then said goodbye.
      if ((wp == kTimer1 && timer_armed_) || wp == kHeartbeat) form_.Heartbeat();
      return 0;
    case kShownMessage:
      form_.Form_Shown();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED) {
        switch (LOWORD(wp)) {
          case kCommand1: form_.Command1_Click(); break;
          case kCommand2: form_.Command2_Click(); break;
          case kCommand3: form_.Command3_Click(); break;
          case kCommand4: form_.Command4_Click(); break;
          default: break;  // Command5 has no handler
        }
      }
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, kLabelText);
      SetBkColor(dc, GetSysColor(COLOR_MENUTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_MENUTEXT));
    }
    // Closing would end the lock: Alt+F4, the system close command and
    // WM_CLOSE from any program are refused. The session end and unload()
    // still end the program.
    case WM_CLOSE:
      return 0;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE) return 0;
      break;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wp != FALSE) unload();
      return 0;
    case WM_DPICHANGED: {
      dpi_x_ = LOWORD(wp);
      dpi_y_ = HIWORD(wp);
      CreateFonts();
      LayOutControls();
      const auto* suggested = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace qorvel::platform::win32
