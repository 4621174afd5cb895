#pragma once
// Message and input boxes on Qt.
#include <QDialog>

#include <chrono>
#include <string>
#include <string_view>

#include "platform/clock_process.h"
#include "platform/dialogs.h"

class QLineEdit;

namespace qorvel::platform::qt {

class QtDialogs final : public platform::Dialogs {
 public:
  // Boxes are titled with the executable's name, as the application's
  // default title.
  explicit QtDialogs(const platform::ProcessInfo& process);

  // The window a message box belongs to when none of ours is active, as at
  // start-up when another program has the focus.
  void set_owner(QWidget* owner) { owner_ = owner; }

  int message_box(std::string_view text, unsigned style, std::chrono::seconds time_limit) override;
  std::string input_box(std::string_view prompt, std::string_view title, bool masked,
                        std::chrono::seconds time_limit) override;

 private:
  QString title_;
  QWidget* owner_ = nullptr;
};

// The input box: the prompt beside OK and Cancel, the field across the
// bottom. It closes itself as Cancel when its time limit (if any) runs out.
class InputBox final : public QDialog {
 public:
  static constexpr const char* kPrompt = "prompt";
  static constexpr const char* kField = "field";
  static constexpr const char* kOk = "ok";
  static constexpr const char* kCancel = "cancel";

  InputBox(QWidget* parent, const QString& prompt, const QString& title, bool masked,
           std::chrono::seconds time_limit);
  [[nodiscard]] QString text() const;

 private:
  QLineEdit* field_ = nullptr;
};

}  // namespace qorvel::platform::qt
