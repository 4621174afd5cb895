#pragma once
// The settings window on Qt: controls and the modal showing; every decision
// is settings::Form2's.
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "guard/form1.h"
#include "platform/services.h"
#include "settings/form2.h"
#include "settings/password_gate.h"

namespace qorvel::platform::qt {

class Form2Widget final : public QDialog, public settings::Form2View {
 public:
  // Object names of the controls, for tests and accessibility tools.
  static constexpr const char* kFrame1 = "Frame1";
  static constexpr const char* kLabel1 = "Label1";
  static constexpr const char* kCombo1 = "Combo1";
  static constexpr const char* kCommand1 = "Command1";  // "添加"
  static constexpr const char* kFrame2 = "Frame2";
  static constexpr const char* kList1 = "List1";
  static constexpr const char* kCommand2 = "Command2";  // "删除时段"
  static constexpr const char* kLabel2 = "Label2";
  static constexpr const char* kText1 = "Text1";
  static constexpr const char* kCommand3 = "Command3";  // "修改"
  static constexpr const char* kCommand4 = "Command4";  // "结束Qorvel"
  static constexpr const char* kStatus = "Status";      // "保存失败", or nothing

  // Created hidden at its design size; owner may be null.
  explicit Form2Widget(QWidget* owner);
  ~Form2Widget() override;
  Form2Widget(const Form2Widget&) = delete;
  Form2Widget& operator=(const Form2Widget&) = delete;

  void set_presenter(settings::Form2* presenter) { presenter_ = presenter; }
  // Shows it centred on the owner's screen and returns when it has closed.
  void exec_centred();

  void clear_list() override;
  void add_list_item(std::string_view text) override;
  [[nodiscard]] std::vector<std::string> list_items() const override;
  [[nodiscard]] std::optional<std::size_t> selected_index() const override;
  [[nodiscard]] std::string combo_text() const override;
  [[nodiscard]] std::string password_text() const override;
  void set_password_text(std::string_view text) override;
  void set_status_text(std::string_view text) override;
  void close() override;

 protected:
  void done(int result) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Unload();
  [[nodiscard]] int X(int twips) const;
  [[nodiscard]] int Y(int twips) const;

  settings::Form2* presenter_ = nullptr;
  bool unloaded_ = false;
  QComboBox* combo1_ = nullptr;
  QListWidget* list1_ = nullptr;
  QLineEdit* text1_ = nullptr;
  QLabel* status_ = nullptr;
};

// Shows Form2 modally over the main window and returns when it has closed.
class QtForm2Host final : public settings::Form2Host {
 public:
  QtForm2Host(platform::Services& services, guard::Form1& form1, QWidget* owner)
      : services_(services), form1_(form1), owner_(owner) {}
  void show_modal() override;

 private:
  platform::Services& services_;
  guard::Form1& form1_;
  QWidget* owner_;
};

}  // namespace qorvel::platform::qt
