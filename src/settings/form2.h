#pragma once
// The settings window: allowed hours, password, and the end of the program.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "guard/form1.h"
#include "platform/services.h"

namespace qorvel::settings {

// What the logic needs of the settings window.
class Form2View {
 public:
  virtual ~Form2View() = default;
  virtual void clear_list() = 0;                          // List1
  virtual void add_list_item(std::string_view text) = 0;  // appended, unsorted
  [[nodiscard]] virtual std::vector<std::string> list_items() const = 0;
  [[nodiscard]] virtual std::optional<std::size_t> selected_index() const = 0;
  [[nodiscard]] virtual std::string combo_text() const = 0;  // Combo1, "" when none picked
  [[nodiscard]] virtual std::string password_text() const = 0;  // Text1
  virtual void set_password_text(std::string_view text) = 0;
  // The line under the buttons: kSaveFailed after a save that did not land,
  // empty after one that did.
  virtual void set_status_text(std::string_view text) = 0;
  // Closes the window; the window reports it through Form_QueryUnload.
  virtual void close() = 0;
};

inline constexpr std::string_view kSaveFailed = "保存失败";

class Form2 {
 public:
  Form2(platform::Services& services, Form2View& view, guard::Form1& form1);

  void Form_Load();        // on opening, and the refresh after add and delete
  void Command1_Click();   // "添加": add the picked hour
  void Command2_Click();   // "删除时段": delete the selected hour
  void Command3_Click();   // "修改": save the password
  void Command4_Click();   // "结束Qorvel": end the program
  void Form_QueryUnload(); // every close; never cancelled

 private:
  // Says whether the save landed; after a failure the window shows what
  // the file holds rather than what was typed.
  void Saved(bool ok);
  platform::Services& services_;
  Form2View& view_;
  guard::Form1& form1_;
};

// The password: everything after the first "=" of mm's first line, so a
// password containing "=" still works; "907" when the section or its "=" is
// missing.
[[nodiscard]] std::string StoredPassword(platform::ProfileFile& profile);

}  // namespace qorvel::settings
