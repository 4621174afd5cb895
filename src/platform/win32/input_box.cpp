#include "platform/win32/input_box.h"

#include <windows.h>
#include <imm.h>

#include <cstdint>
#include <vector>

#include "platform/win32/text.h"

namespace qorvel::platform::win32 {
namespace {

constexpr WORD kPromptId = 100;
constexpr WORD kEditId = 101;
constexpr UINT_PTR kTimeLimitTimer = 1;

// Builds a DLGTEMPLATE in memory: no resource script to keep in step with
// the code, and the texts stay UTF-8 until this edge.
class TemplateWriter {
 public:
  void Dialog(DWORD style, short cx, short cy, std::wstring_view title, WORD items) {
    Dword(style);
    Dword(0);  // extended style
    Word(items);
    Short(0);
    Short(0);
    Short(cx);
    Short(cy);
    Word(0);  // no menu
    Word(0);  // default class
    String(title);
    Word(9);  // DS_SETFONT point size
    String(L"MS Shell Dlg");
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD class_atom,
            std::wstring_view text) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Short(x);
    Short(y);
    Short(cx);
    Short(cy);
    Word(id);
    Word(0xFFFF);
    Word(class_atom);
    String(text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Word(WORD w) { words_.push_back(w); }
  void Short(short s) { words_.push_back(static_cast<WORD>(s)); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void String(std::wstring_view s) {
    for (wchar_t c : s) Word(static_cast<WORD>(c));
    Word(0);
  }
  void Align() {
    if (words_.size() % 2 != 0) Word(0);  // items start on a DWORD boundary
  }
  std::vector<WORD> words_;
};

struct InputBoxState {
  std::wstring prompt;
  std::chrono::seconds time_limit;
  std::wstring answer;
};

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* state = reinterpret_cast<InputBoxState*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SetDlgItemTextW(dialog, kPromptId, state->prompt.c_str());
      if (state->time_limit.count() > 0) {
        SetTimer(dialog, kTimeLimitTimer, static_cast<UINT>(state->time_limit.count() * 1000), nullptr);
      }
      // A masked edit switches the input method off on Windows, but a
      // password saved from the settings window may be Chinese: give the
      // field its input context back so it can be typed here too.
      ImmAssociateContextEx(GetDlgItem(dialog, kEditId), nullptr, IACE_DEFAULT);
      SetFocus(GetDlgItem(dialog, kEditId));
      return FALSE;  // focus set here, not on the first tab stop
    }
    case WM_TIMER:
      if (wparam != kTimeLimitTimer) break;
      KillTimer(dialog, kTimeLimitTimer);
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK: {
          auto* state = reinterpret_cast<InputBoxState*>(GetWindowLongPtrW(dialog, DWLP_USER));
          state->answer = WindowText(GetDlgItem(dialog, kEditId));
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:  // also Esc and the close box
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          break;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

std::string ShowInputBox(std::string_view prompt, std::string_view title, bool masked,
                         std::chrono::seconds time_limit) {
  // Laid out like the classic input box: prompt beside the buttons, the
  // field across the bottom. Dialog units.
  TemplateWriter t;
  t.Dialog(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 240, 84,
           Widen(title), 4);
  t.Item(SS_LEFT | SS_NOPREFIX, 7, 7, 170, 44, kPromptId, 0x0082, L"");
  t.Item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | (masked ? ES_PASSWORD : 0), 7, 62, 226, 14,
         kEditId, 0x0081, L"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 183, 7, 50, 14, IDOK, 0x0080, L"确定");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 183, 25, 50, 14, IDCANCEL, 0x0080, L"取消");

  InputBoxState state{Widen(prompt), time_limit, {}};
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), GetActiveWindow(),
                                                 InputBoxProc, reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return {};
  return Narrow(state.answer);
}

}  // namespace qorvel::platform::win32
