#include "platform/win32/form2_window.h"

#include <uxtheme.h>

#include <string>

#include "platform/win32/text.h"
#include "platform/win32/window_object.h"

namespace qorvel::platform::win32 {
namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW;
constexpr COLORREF kRed = RGB(255, 0, 0);

// Design geometry in twips: client area, and the two groups whose
// controls are placed relative to them.
constexpr int kClientWidth = 4425;
constexpr int kClientHeight = 4845;
constexpr POINT kFrame1 = {120, 120};
constexpr POINT kFrame2 = {120, 1440};

}  // namespace

Form2Window::Form2Window(HWND owner) : owner_(owner) {
  if (HDC screen = GetDC(nullptr)) {
    dpi_x_ = GetDeviceCaps(screen, LOGPIXELSX);
    dpi_y_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  LOGFONTW list{};
  list.lfHeight = -MulDiv(105, dpi_y_, 720);  // 10.5 pt
  list.lfWeight = FW_BOLD;
  list.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(list.lfFaceName, L"微软雅黑", LF_FACESIZE);
  list_font_ = CreateFontIndirectW(&list);

  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Form2Window::WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
    if (wc.hIcon == nullptr) wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kForm2ClassName;
    return RegisterClassExW(&wc) != 0;
  }();
  if (!registered) return;
  RECT frame{0, 0, X(kClientWidth), Y(kClientHeight)};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  CreateWindowExW(0, kForm2ClassName, L"设置", kFormStyle, left, top, width, height, owner_, nullptr,
                  GetModuleHandleW(nullptr), this);
  if (hwnd_ != nullptr) CreateControls();
}

Form2Window::~Form2Window() {
  presenter_ = nullptr;  // may already be gone; no reports from here on
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (font_ != nullptr) DeleteObject(font_);
  if (list_font_ != nullptr) DeleteObject(list_font_);
}

void Form2Window::CreateControls() {
  const int f1x = kFrame1.x, f1y = kFrame1.y, f2x = kFrame2.x, f2y = kFrame2.y;
  // Created in tab order; the groups last, so they lie beneath the controls
  // they hold and never paint over them.
  HWND label1 = Control(kForm2Label1, L"STATIC", L"选择可上网时段", SS_LEFT | SS_NOPREFIX, 0, f1x + 120,
                        f1y + 510, 0, 0);
  SizeLabelToText(label1);
  HWND combo = Control(kForm2Combo1, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0,
                       f1x + 1560, f1y + 480, 1575, 300 * 8);
  for (int hour = 1; hour <= 23; ++hour) {
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(hour).c_str()));
  }
  // The closed box is as tall as designed whatever the font. Systems differ
  // in how the box follows the field height (Wine reads back 2 more than it
  // was given), so steer by measuring.
  auto field = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    RECT shown{};
    GetWindowRect(combo, &shown);
    const int off = Y(300) - (shown.bottom - shown.top);
    if (off == 0 || field + off <= 0) break;
    field += off;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
  }
  Control(kForm2Command1, L"BUTTON", L"添加", BS_PUSHBUTTON | WS_TABSTOP, 0, f1x + 3240, f1y + 480, 855, 300);

  HWND list = Control(kForm2List1, L"LISTBOX", L"",
                      LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE,
                      f2x + 240, f2y + 360, 2775, 2340);
  SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(list_font_), FALSE);
  Control(kForm2Command2, L"BUTTON", L"删除时段", BS_PUSHBUTTON | WS_TABSTOP, 0, f2x + 3120, f2y + 480, 975,
          495);

  SizeLabelToText(Control(kForm2Label2, L"STATIC", L"当前密码", SS_LEFT | SS_NOPREFIX, 0, 120, 4480, 0, 0));
  Control(kForm2Text1, L"EDIT", L"", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, 960, 4440, 2175,
          270);
  Control(kForm2Command3, L"BUTTON", L"修改", BS_PUSHBUTTON | WS_TABSTOP, 0, 3240, 4440, 1095, 300);
  // Under the delete button, where the eye goes after a change.
  Control(kForm2Status, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 0, f2x + 3120, f2y + 1080, 1000, 270);
  Control(kForm2Command4, L"BUTTON", L"结束Qorvel", BS_OWNERDRAW | WS_TABSTOP, 0, 840, 0, 1335, 255);

  // Themed group boxes ignore the caption colour; these two keep the classic
  // look (" " names no theme; Wine reads "" as "the default one").
  SetWindowTheme(Control(kForm2Frame1, L"BUTTON", L"设置", BS_GROUPBOX | WS_CLIPSIBLINGS, 0, f1x, f1y, 4215, 1215),
                 L" ", L" ");
  SetWindowTheme(Control(kForm2Frame2, L"BUTTON", L"当前可上网时段", BS_GROUPBOX | WS_CLIPSIBLINGS, 0, f2x, f2y,
                         4215, 2895),
                 L" ", L" ");
}

HWND Form2Window::Control(int id, const wchar_t* window_class, std::wstring_view text, DWORD style,
                          DWORD ex_style, int left, int top, int width, int height) {
  HWND control = CreateWindowExW(ex_style, window_class, std::wstring(text).c_str(),
                                 style | WS_CHILD | WS_VISIBLE, X(left), Y(top), X(width), Y(height), hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                 nullptr);
  if (control != nullptr && font_ != nullptr) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  return control;
}

void Form2Window::SizeLabelToText(HWND label) const {
  if (label == nullptr) return;
  const std::wstring text = WindowText(label);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, font_);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form2Window::show() {
  ShowWindow(hwnd_, SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  SetFocus(Item(kForm2Combo1));
}

void Form2Window::clear_list() { SendMessageW(Item(kForm2List1), LB_RESETCONTENT, 0, 0); }

void Form2Window::add_list_item(std::string_view text) {
  SendMessageW(Item(kForm2List1), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
}

std::vector<std::string> Form2Window::list_items() const {
  HWND list = Item(kForm2List1);
  std::vector<std::string> items;
  const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) continue;
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    items.push_back(Narrow(text));
  }
  return items;
}

std::optional<std::size_t> Form2Window::selected_index() const {
  const auto index = SendMessageW(Item(kForm2List1), LB_GETCURSEL, 0, 0);
  if (index < 0) return std::nullopt;
  return static_cast<std::size_t>(index);
}

std::string Form2Window::combo_text() const {
  HWND combo = Item(kForm2Combo1);
  const auto index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (index < 0) return {};
  const auto length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return Narrow(text);
}

std::string Form2Window::password_text() const { return Narrow(WindowText(Item(kForm2Text1))); }

void Form2Window::set_password_text(std::string_view text) {
  SetWindowTextW(Item(kForm2Text1), Widen(text).c_str());
}

void Form2Window::set_status_text(std::string_view text) {
  SetWindowTextW(Item(kForm2Status), Widen(text).c_str());
}

void Form2Window::close() {
  if (hwnd_ != nullptr) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

// Every way out comes here or to WM_DESTROY; the presenter hears of it once.
void Form2Window::Unload() {
  if (!unloaded_) {
    unloaded_ = true;
    if (presenter_ != nullptr) presenter_->Form_QueryUnload();
  }
  // The owner first, so activation returns to it rather than to another program.
  if (owner_ != nullptr && IsWindow(owner_)) EnableWindow(owner_, TRUE);
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

void Form2Window::DrawRedButton(const DRAWITEMSTRUCT& item) const {
  RECT rect = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  HBRUSH red = CreateSolidBrush(kRed);
  FillRect(item.hDC, &rect, red);
  DeleteObject(red);
  DrawEdge(item.hDC, &rect, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  const std::wstring text = WindowText(item.hwndItem);
  RECT text_rect = rect;
  if (pressed) OffsetRect(&text_rect, 1, 1);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
  HGDIOBJ old = SelectObject(item.hDC, font_);
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &text_rect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, old);
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = rect;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(item.hDC, &focus);
  }
}

LRESULT CALLBACK Form2Window::WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = WindowObject<Form2Window>(hwnd, message, lparam);
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCCREATE) self->hwnd_ = hwnd;
  return self->Handle(message, wparam, lparam);
}

LRESULT Form2Window::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED && presenter_ != nullptr) {
        switch (LOWORD(wparam)) {
          case kForm2Command1: presenter_->Command1_Click(); return 0;
          case kForm2Command2: presenter_->Command2_Click(); return 0;
          case kForm2Command3: presenter_->Command3_Click(); return 0;
          case kForm2Command4: presenter_->Command4_Click(); return 0;
          default: break;
        }
      }
      break;
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lparam);
      const auto dc = reinterpret_cast<HDC>(wparam);
      if (control == Item(kForm2Frame1) || control == Item(kForm2Frame2)) {
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
      }
      if (control == Item(kForm2Status)) SetTextColor(dc, kRed);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->CtlID == kForm2Command4) {
        DrawRedButton(*item);
        return TRUE;
      }
      break;
    }
    case WM_CLOSE:  // the close box, Alt+F4, the end button, program end
      Unload();
      return 0;
    case WM_DESTROY:
      // Destroyed without a close, e.g. along with its owner: still an unload.
      if (!unloaded_) {
        unloaded_ = true;
        if (presenter_ != nullptr) presenter_->Form_QueryUnload();
      }
      return 0;
    case WM_NCDESTROY: {
      HWND dying = hwnd_;
      SetWindowLongPtrW(dying, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return DefWindowProcW(dying, message, wparam, lparam);
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wparam, lparam);
}

void Win32Form2Host::show_modal() {
  Form2Window window(owner_);
  if (!window.alive()) return;
  settings::Form2 form(services_, window, form1_);
  window.set_presenter(&form);
  form.Form_Load();
  if (owner_ != nullptr) EnableWindow(owner_, FALSE);
  window.show();

  MSG msg;
  while (window.alive()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // The program is ending under us: close like any other way out, then
      // hand the quit on to the main loop.
      window.close();
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!IsDialogMessageW(window.hwnd(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  window.close();  // no-op unless the loop broke on an error
  if (owner_ != nullptr && IsWindow(owner_)) EnableWindow(owner_, TRUE);
}

}  // namespace qorvel::platform::win32
