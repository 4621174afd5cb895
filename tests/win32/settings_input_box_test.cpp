// The password prompt, answered from inside its own modal loop.
#include <gtest/gtest.h>

#include "platform/win32/input_box.h"
#include "settings_steps.h"

namespace qorvel {
namespace {

enum class End { ok_button, enter, cancel_button, escape, close_box };

struct InputCase {
  const char* name;
  bool masked;
  std::wstring typed;
  End end;
  std::string expected;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class InputBox : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputBox, ReturnsTheTypedTextOnlyOnOk) {
  const auto& c = GetParam();
  HWND seen = nullptr;
  std::string answer;
  {
    test::Steps steps({[&] {
      HWND box = test::FindOwnWindow(L"#32770", L"app");
      if (box == nullptr) return false;
      seen = box;
      HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr);
      EXPECT_EQ(GetFocus(), edit) << "typing goes straight into the field";
      EXPECT_EQ((GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) != 0, c.masked);
      EXPECT_EQ(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0) != 0, c.masked);
      EXPECT_NE(FindWindowExW(box, nullptr, L"Static", L"请输入密码"), nullptr);
      test::Type(edit, c.typed);
      switch (c.end) {
        case End::ok_button: SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0); break;
        case End::enter: PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1); break;
        case End::cancel_button: SendMessageW(GetDlgItem(box, IDCANCEL), BM_CLICK, 0, 0); break;
        case End::escape: PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1); break;
        case End::close_box: PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); break;
      }
      return true;
    }});
    answer = platform::win32::ShowInputBox("请输入密码", "app", c.masked);
  }
  ASSERT_NE(seen, nullptr);
  EXPECT_FALSE(IsWindow(seen));
  EXPECT_EQ(answer, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, InputBox,
    ::testing::Values(InputCase{"OkReturnsText", true, L"907", End::ok_button, "907"},
                      InputCase{"EnterIsOk", true, L"abc", End::enter, "abc"},
                      InputCase{"OkWithNothingTyped", true, L"", End::ok_button, ""},
                      InputCase{"ChineseAndEqualsSign", true, L"家长=口令", End::ok_button, "家长=口令"},
                      InputCase{"UnmaskedShowsText", false, L"Ab", End::ok_button, "Ab"},
                      InputCase{"CancelDropsText", true, L"907", End::cancel_button, ""},
                      InputCase{"EscapeDropsText", true, L"907", End::escape, ""},
                      InputCase{"CloseBoxDropsText", true, L"907", End::close_box, ""}),
    [](const auto& tc) { return std::string(tc.param.name); });

}  // namespace
}  // namespace qorvel
