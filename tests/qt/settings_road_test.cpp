// The settings window, the password prompt and the message box, driven by
// Qt events from inside their modal loops, with fake services.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "platform/qt/dialogs_qt.h"
#include "platform/qt/form1_widget.h"
#include "platform/qt/form2_widget.h"
#include "qt_support.h"
#include "settings/password_gate.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using platform::qt::Form1Widget;
using platform::qt::Form2Widget;
using platform::qt::InputBox;
using test::Child;
using test::Is;
using test::ModalStep;

// ASCII from the keyboard; Chinese committed by the input method, which
// reaches only a widget that accepts input methods.
void TypeInto(QWidget* w, const char* utf8) {
  for (const QChar ch : QString::fromUtf8(utf8)) {
    if (ch.unicode() < 128) {
      QTest::keyClick(w, ch.toLatin1());
    } else if (w->testAttribute(Qt::WA_InputMethodEnabled)) {
      QInputMethodEvent commit;
      commit.setCommitString(ch);
      QCoreApplication::sendEvent(w, &commit);
    }
  }
}
void Click(QWidget* parent, const char* name) {
  auto* button = Child<QPushButton>(parent, name);
  QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}
// Picks an hour in Combo1 by keyboard, as a parent does.
void PickHour(QWidget* form, int hour) {
  auto* combo = Child<QComboBox>(form, Form2Widget::kCombo1);
  QTest::keyClick(combo, Qt::Key_Home);
  for (int i = 1; i < hour; ++i) QTest::keyClick(combo, Qt::Key_Down);
}
void SelectListed(QWidget* form, const char* text) {
  auto* list = Child<QListWidget>(form, Form2Widget::kList1);
  const auto found = list->findItems(QString::fromUtf8(text), Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
}
QStringList Listed(QWidget* form) {
  QStringList items;
  auto* list = Child<QListWidget>(form, Form2Widget::kList1);
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}
std::function<void(QWidget*)> Type(const char* text, bool ok = true) {
  return [text, ok](QWidget* box) {
    TypeInto(Child<QLineEdit>(box, InputBox::kField), text);
    Click(box, ok ? InputBox::kOk : InputBox::kCancel);
  };
}

std::string HourLine(std::initializer_list<int> file_order) {
  std::string text;
  for (const int h : file_order) text = std::to_string(h) + "点  " + text;
  return text;
}

class SettingsRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    fx.profile.set_text(store::kSettingsFile,
                        "[HOUR]\r\nhou7=7\r\nhou8=8\r\nhou22=22\r\n[mm]\r\nnober=家长=口令\r\n[bb]\r\ntwo=1\r\n");
    main.form().set_settings_door(&gate);
    main.set_enabled(false);
    main.show_design();
    ASSERT_TRUE(test::WaitFor([&] { return test::Settled(main); }));
    main.set_enabled(true);
  }
  std::string File() const { return fx.profile.text(store::kSettingsFile).value_or(""); }
  // The settings button, then the steps inside the modal windows.
  std::size_t Road(std::vector<ModalStep> steps) {
    test::ModalSteps driver(std::move(steps));
    Click(&main, Form1Widget::kCommand2);
    return driver.done();
  }

  test::FakeServices fx;
  platform::qt::QtDialogs dialogs{fx.system};
  platform::Services services{fx.profile, fx.clock, fx.process, fx.files, fx.privilege,
                              fx.power,   fx.shell, fx.registry, dialogs, fx.system};
  Form1Widget main{services};
  platform::qt::QtForm2Host host{services, main.form(), &main};
  settings::PasswordGate gate{services, main.form(), host};
};

// The whole visit: the password (with its "="), delete and add
// hours, a password typed but not saved, and the close box.
TEST_F(SettingsRoad, PasswordThenEditHoursThenCloseRefreshesTheMainWindow) {
  QStringList seen_at_open;
  bool prompt_ok = false;
  const auto steps = Road({
      {Is<InputBox>(),
       [&](QWidget* box) {
         auto* field = Child<QLineEdit>(box, InputBox::kField);
         // It has the keyboard at once, above the topmost main window.
         EXPECT_TRUE(test::WaitFor([&] { return box->isActiveWindow() && field->hasFocus(); }));
         prompt_ok = box->windowTitle() == "app" && field->echoMode() == QLineEdit::Password &&
                     field->testAttribute(Qt::WA_InputMethodEnabled) &&
                     Child<QLabel>(box, InputBox::kPrompt)->text() == "请输入密码" && !main.enabled();
         Type("家长=口令")(box);
       }},
      {Is<Form2Widget>(),
       [&](QWidget* form) {
         seen_at_open = Listed(form);
         EXPECT_TRUE(test::WaitFor([&] { return form->isActiveWindow(); }));
         // Modal over the main window, centred on its screen (down by at
         // most the caption the window manager adds).
         EXPECT_TRUE(form->isModal() && form->parentWidget() == &main);
         const QPoint off = form->geometry().center() - main.screen()->geometry().center();
         EXPECT_TRUE(std::abs(off.x()) <= 2 && off.y() >= 0 &&
                     off.y() <= form->geometry().top() - form->frameGeometry().top() + 1) << off.x() << "," << off.y();
         EXPECT_EQ(Child<QLineEdit>(form, Form2Widget::kText1)->text(), "家长=口令");
         EXPECT_EQ(Child<QComboBox>(form, Form2Widget::kCombo1)->currentIndex(), -1);
         Click(form, Form2Widget::kCommand1);  // nothing picked: nothing added
         SelectListed(form, "8");
         Click(form, Form2Widget::kCommand2);
         Click(form, Form2Widget::kCommand2);  // the selection went with the reload
         PickHour(form, 7);
         Click(form, Form2Widget::kCommand1);  // listed already
         TypeInto(Child<QLineEdit>(form, Form2Widget::kText1), "x");
         PickHour(form, 8);
         Click(form, Form2Widget::kCommand1);
         EXPECT_EQ(Listed(form), QStringList({"7", "22", "8"}));
         EXPECT_EQ(Child<QLineEdit>(form, Form2Widget::kText1)->text(), "家长=口令");  // reloaded, not saved
         EXPECT_TRUE(main.hours_text().empty());
         QTest::keyClick(form, Qt::Key_Escape);  // not a way out here
         EXPECT_TRUE(form->isVisible());
         test::SendDeleteWindow(*form);  // the close box
       }},
  });
  EXPECT_EQ(steps, 2U);
  EXPECT_TRUE(prompt_ok);
  EXPECT_EQ(seen_at_open, QStringList({"7", "8", "22"}));
  EXPECT_EQ(File(), "[HOUR]\r\nhou7=7\r\nhou22=22\r\nhou8=8\r\n[mm]\r\nnober=家长=口令\r\n[bb]\r\ntwo=1\r\n");
  EXPECT_TRUE(main.enabled());
  EXPECT_EQ(main.hours_text(), HourLine({7, 22, 8}));
}

// Ways the prompt ends without the settings window: the timer comes back on
// and the main window is topmost (its next tick applies the hour's layout).
TEST_F(SettingsRoad, WrongCancelledOrUnansweredPromptsOpenNothing) {
  struct Case { const char* name; std::function<void(QWidget*)> act; };
  for (const auto& c : {Case{"wrong", Type("家长")}, Case{"cancel", Type("家长=口令", false)},
                        Case{"esc", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); }},
                        Case{"window manager close", [](QWidget* box) { test::SendDeleteWindow(*box); }}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Road({{Is<InputBox>(), c.act}}), 1U);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(main.enabled());
    EXPECT_TRUE(main.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  }
}

TEST_F(SettingsRoad, SavedPasswordAndEndButtonEndTheProgram) {
  QTimer::singleShot(0, [&] {
    test::ModalSteps driver({{Is<InputBox>(), Type("家长=口令")},
                             {Is<Form2Widget>(), [](QWidget* form) {
                                auto* text1 = Child<QLineEdit>(form, Form2Widget::kText1);
                                text1->clear();
                                TypeInto(text1, "新=密码");
                                Click(form, Form2Widget::kCommand3);
                                Click(form, Form2Widget::kCommand4);
                              }}});
    Click(&main, Form1Widget::kCommand2);
  });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(main.isVisible());
  EXPECT_NE(File().find("[mm]\r\nnober=新=密码\r\n"), std::string::npos);
  EXPECT_EQ(main.hours_text(), HourLine({7, 8, 22}));  // the close came first
}

// A box that closes while no other window of ours is active must not end
// the program: the main window, a tool window, still holds it.
TEST_F(SettingsRoad, ClosingAParentlessBoxKeepsTheProgramRunning) {
  bool still_running = false;
  QTimer::singleShot(0, [&] {
    test::ModalSteps driver({{Is<InputBox>(), Type("", false)}});
    InputBox(nullptr, "请输入密码", "app", true, std::chrono::seconds(0)).exec();
    QTimer::singleShot(200, [&] {
      still_running = true;
      main.form().Unload();
    });
  });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_TRUE(still_running);
}

TEST(Form2Widget, OpensAtDesignGeometry) {
  Form2Widget form(nullptr);
  if (form.logicalDpiX() != 96) GTEST_SKIP() << "pixel checks assume 96 DPI";
  EXPECT_EQ(form.windowTitle(), "设置");
  EXPECT_EQ(form.size(), QSize(295, 323));  // 4425 x 4845 twips
  // Left and top relative to the group.
  for (const auto& p : {test::Placed{Form2Widget::kFrame1, "设置", 8, 8, 281, 81},
                        test::Placed{Form2Widget::kLabel1, "选择可上网时段", 8, 34, -1, -1},
                        test::Placed{Form2Widget::kCombo1, "", 104, 32, 105, 20},
                        test::Placed{Form2Widget::kCommand1, "添加", 216, 32, 57, 20},
                        test::Placed{Form2Widget::kFrame2, "当前可上网时段", 8, 96, 281, 193},
                        test::Placed{Form2Widget::kList1, "", 16, 24, 185, 156},
                        test::Placed{Form2Widget::kCommand2, "删除时段", 208, 32, 65, 33},
                        test::Placed{Form2Widget::kLabel2, "当前密码", 8, 299, -1, -1},
                        test::Placed{Form2Widget::kText1, "", 64, 296, 145, 18},
                        test::Placed{Form2Widget::kCommand3, "修改", 216, 296, 73, 20},
                        test::Placed{Form2Widget::kCommand4, "结束Qorvel", 56, 0, 89, 17}}) {
    SCOPED_TRACE(p.name);
    test::ExpectPlaced(form, p);
  }
  auto* combo = form.findChild<QComboBox*>(Form2Widget::kCombo1);
  EXPECT_FALSE(combo->isEditable());
  ASSERT_EQ(combo->count(), 23);
  EXPECT_EQ(combo->itemText(0), "1");
  EXPECT_EQ(combo->itemText(22), "23");
  EXPECT_TRUE(form.findChild<QListWidget*>(Form2Widget::kList1)->font().bold());
}

class QtDialogs : public ::testing::Test {
 protected:
  test::Log log;
  test::MemoryProfileFile profile{log};
  test::FakeSystem system{log, profile};  // exe_name "guard"
  platform::qt::QtDialogs dialogs{system};
};

TEST_F(QtDialogs, InputBoxGivesTheTextOnlyOnOk) {
  struct Case { bool masked; const char* typed; bool ok; int limit_s; std::string expected; };
  for (const auto& c : {Case{true, "家长=口令", true, 0, "家长=口令"}, Case{false, "abc", true, 60, "abc"},
                        Case{true, "abc", false, 0, ""}, Case{true, "", true, 0, ""},
                        Case{true, "abc", true, -1, ""}}) {  // -1: left to its time limit
    SCOPED_TRACE(c.typed);
    bool masked_ok = false;
    test::ModalSteps driver({{Is<InputBox>(), [&](QWidget* box) {
                                auto* field = Child<QLineEdit>(box, InputBox::kField);
                                masked_ok = (field->echoMode() == QLineEdit::Password) == c.masked &&
                                            field->testAttribute(Qt::WA_InputMethodEnabled);
                                if (c.limit_s >= 0) Type(c.typed, c.ok)(box);
                              }}});
    const auto limit = std::chrono::seconds(c.limit_s >= 0 ? c.limit_s : 1);
    EXPECT_EQ(dialogs.input_box("请输入密码", "app", c.masked, limit), c.expected);
    EXPECT_TRUE(driver.all_done() && masked_ok);
  }
}

TEST_F(QtDialogs, MessageBoxAnswersAsWindowsDoes) {
  enum Answer { kOk, kCancel, kEsc };
  struct Case { unsigned style; Answer answer; int result; QMessageBox::Icon icon; int buttons; };
  for (const auto& c : {Case{platform::kMbOkCancel, kOk, platform::kIdOk, QMessageBox::NoIcon, 2},
                        Case{platform::kMbOkCancel, kCancel, 2, QMessageBox::NoIcon, 2},
                        Case{platform::kMbOkCancel, kEsc, 2, QMessageBox::NoIcon, 2},
                        Case{platform::kMbIconInformation, kEsc, platform::kIdOk, QMessageBox::Information, 1},
                        Case{platform::kMbIconWarning, kOk, platform::kIdOk, QMessageBox::Warning, 1}}) {
    SCOPED_TRACE(c.style);
    QString title, text;
    QMessageBox::Icon icon{};
    int buttons = 0;
    test::ModalSteps driver({{Is<QMessageBox>(), [&](QWidget* w) {
                                auto* box = dynamic_cast<QMessageBox*>(w);
                                title = box->windowTitle();
                                text = box->text();
                                icon = box->icon();
                                buttons = static_cast<int>(box->buttons().size());
                                if (c.answer == kEsc) QTest::keyClick(box, Qt::Key_Escape);
                                for (auto* b : box->buttons()) {
                                  if (b->text() == (c.answer == kOk ? "确定" : "取消") && c.answer != kEsc) b->click();
                                }
                              }}});
    EXPECT_EQ(dialogs.message_box("是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907", c.style), c.result);
    EXPECT_EQ(title, "guard");
    EXPECT_EQ(text, "是否加入开机启动\n软件显示屏幕左上角\n初始密码:907");
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(buttons, c.buttons);
  }
}

}  // namespace
}  // namespace qorvel
