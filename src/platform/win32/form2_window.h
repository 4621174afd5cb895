#pragma once
// The settings window: controls and the modal showing; every decision is
// settings::Form2's.
#include <windows.h>

#include "guard/form1.h"
#include "platform/services.h"
#include "settings/form2.h"
#include "settings/password_gate.h"

namespace qorvel::platform::win32 {

inline constexpr wchar_t kForm2ClassName[] = L"QorvelForm2";

// Control ids, clear of IDOK and IDCANCEL so Enter and Esc do not reach the
// buttons through the dialog manager.
inline constexpr int kForm2Frame1 = 200;
inline constexpr int kForm2Label1 = 201;
inline constexpr int kForm2Combo1 = 202;
inline constexpr int kForm2Command1 = 203;
inline constexpr int kForm2Frame2 = 204;
inline constexpr int kForm2List1 = 205;
inline constexpr int kForm2Command2 = 206;
inline constexpr int kForm2Label2 = 207;
inline constexpr int kForm2Text1 = 208;
inline constexpr int kForm2Command3 = 209;
inline constexpr int kForm2Command4 = 210;
inline constexpr int kForm2Status = 211;  // "保存失败" after a save that did not land

class Form2Window final : public settings::Form2View {
 public:
  // Created hidden, centred on the screen; owner may be null.
  explicit Form2Window(HWND owner);
  ~Form2Window() override;
  Form2Window(const Form2Window&) = delete;
  Form2Window& operator=(const Form2Window&) = delete;

  void set_presenter(settings::Form2* presenter) { presenter_ = presenter; }
  void show();
  [[nodiscard]] HWND hwnd() const { return hwnd_; }
  [[nodiscard]] bool alive() const { return hwnd_ != nullptr; }

  void clear_list() override;
  void add_list_item(std::string_view text) override;
  [[nodiscard]] std::vector<std::string> list_items() const override;
  [[nodiscard]] std::optional<std::size_t> selected_index() const override;
  [[nodiscard]] std::string combo_text() const override;
  [[nodiscard]] std::string password_text() const override;
  void set_password_text(std::string_view text) override;
  void set_status_text(std::string_view text) override;
  void close() override;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  HWND Control(int id, const wchar_t* window_class, std::wstring_view text, DWORD style, DWORD ex_style,
               int left, int top, int width, int height);
  void SizeLabelToText(HWND label) const;
  void Unload();
  void DrawRedButton(const DRAWITEMSTRUCT& item) const;
  [[nodiscard]] int X(int twips) const { return MulDiv(twips, dpi_x_, 1440); }
  [[nodiscard]] int Y(int twips) const { return MulDiv(twips, dpi_y_, 1440); }
  [[nodiscard]] HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

  HWND owner_;
  HWND hwnd_ = nullptr;
  settings::Form2* presenter_ = nullptr;
  bool unloaded_ = false;
  int dpi_x_ = 96;
  int dpi_y_ = 96;
  HFONT font_ = nullptr;
  HFONT list_font_ = nullptr;
};

// Shows Form2 modally over the main window: the owner is disabled and a
// message loop runs until Form2 is gone.
class Win32Form2Host final : public settings::Form2Host {
 public:
  Win32Form2Host(Services& services, guard::Form1& form1, HWND owner = nullptr)
      : services_(services), form1_(form1), owner_(owner) {}
  void set_owner(HWND owner) { owner_ = owner; }
  void show_modal() override;

 private:
  Services& services_;
  guard::Form1& form1_;
  HWND owner_;
};

}  // namespace qorvel::platform::win32
