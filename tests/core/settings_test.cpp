#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "settings/form2.h"
#include "settings/password_gate.h"
#include "store/module1.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using test::FakeForm1View;
using test::FakeServices;
using test::Log;

constexpr std::string_view kFile = store::kSettingsFile;

// The settings window as a list of values; close() reports to the presenter
// as the real window does.
class FakeForm2View final : public settings::Form2View {
 public:
  explicit FakeForm2View(Log& log) : log_(log) {}
  void clear_list() override { items.clear(); selection.reset(); }
  void add_list_item(std::string_view text) override { items.emplace_back(text); }
  std::vector<std::string> list_items() const override { return items; }
  std::optional<std::size_t> selected_index() const override { return selection; }
  std::string combo_text() const override { return combo; }
  std::string password_text() const override { return text1; }
  void set_password_text(std::string_view text) override { text1 = std::string(text); }
  void close() override {
    log_.push_back("close Form2");
    closed = true;
    if (presenter != nullptr) presenter->Form_QueryUnload();
  }

  void Select(std::string_view item) {
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i] == item) selection = i;
    }
  }

  settings::Form2* presenter = nullptr;
  std::vector<std::string> items;
  std::optional<std::size_t> selection;
  std::string combo;
  std::string text1;
  bool closed = false;

 private:
  Log& log_;
};

using Visit = std::function<void(FakeForm2View&, settings::Form2&)>;

// Opens a fresh settings window, lets the visit act on it, and closes it with
// the close button unless the visit ended it.
class ScriptedForm2Host final : public settings::Form2Host {
 public:
  ScriptedForm2Host(FakeServices& fx, guard::Form1& form1) : fx_(fx), form1_(form1) {}
  void show_modal() override {
    fx_.log.push_back("Form2 shown");
    FakeForm2View view(fx_.log);
    settings::Form2 form(fx_.services, view, form1_);
    view.presenter = &form;
    form.Form_Load();
    if (visit) visit(view, form);
    if (!view.closed) view.close();
    last_list = view.items;
    last_text1 = view.text1;
  }
  Visit visit;
  std::vector<std::string> last_list;
  std::string last_text1;

 private:
  FakeServices& fx_;
  guard::Form1& form1_;
};

struct Rig {
  FakeServices fx;
  FakeForm1View main{fx.log};
  guard::Form1 form1{fx.services, main};
  ScriptedForm2Host host{fx, form1};
  settings::PasswordGate gate{fx.services, form1, host};

  Rig() { form1.set_settings_door(&gate); }

  // Presses "设置" and answers the prompt (nullopt: Cancel).
  Log PressSettings(std::optional<std::string> answer) {
    fx.log.clear();
    if (answer) fx.dialogs.input_answers.push_back(*answer);
    form1.Command2_Click();
    return fx.log;
  }
  std::string File() const { return fx.profile.text(kFile).value_or("<none>"); }
};

std::string SettingsFile(std::initializer_list<int> hours, std::string_view password = "907") {
  std::string text = "[HOUR]\r\n";
  for (int h : hours) text += "hou" + std::to_string(h) + "=" + std::to_string(h) + "\r\n";
  return text + "[mm]\r\nnober=" + std::string(password) + "\r\n[bb]\r\ntwo=0\r\n";
}

std::string HoursLine(std::initializer_list<int> latest_first) {
  std::string text;
  for (int h : latest_first) text += std::to_string(h) + "点  ";
  return text;
}

// --- The password gate -----------------------------------------------------

struct GateCase {
  const char* name;
  std::optional<std::string> file;  // nullopt: no settings file
  std::optional<std::string> answer;  // nullopt: Cancel
  bool opens;
};

void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }

class Gate : public ::testing::TestWithParam<GateCase> {};

TEST_P(Gate, OpensOnlyOnTheExactPassword) {
  const auto& c = GetParam();
  Rig r;
  if (c.file) r.fx.profile.set_text(kFile, *c.file);
  const std::string before = r.File();

  const Log calls = r.PressSettings(c.answer);

  const Log prompt = {"timer off", "pos -2 3", "input 请输入密码 / app"};
  Log expected = prompt;
  if (c.opens) {
    // The visit itself is checked below; here only its frame.
    expected.insert(expected.end(), {"timer off", "pos -2 3", "Form2 shown", "close Form2", "timer on"});
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(Log(calls.begin(), calls.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(calls.back().rfind("Label2 ", 0), 0u) << "the close refreshes the hours line last";
  } else {
    expected.insert(expected.end(), {"timer on", "pos -1 3"});
    EXPECT_EQ(calls, expected) << "no message, no settings window";
  }
  EXPECT_TRUE(r.main.fake_timer().enabled());
  EXPECT_EQ(r.main.fake_window().topmost, !c.opens);
  EXPECT_TRUE(r.fx.dialogs.last_input_masked);
  EXPECT_TRUE(r.fx.dialogs.messages.empty());
  EXPECT_EQ(r.File(), before) << "the gate never writes";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Gate,
    ::testing::Values(
        GateCase{"InitialPassword", SettingsFile({1, 2}), "907", true},
        GateCase{"WrongPassword", SettingsFile({1, 2}), "908", false},
        GateCase{"Cancel", SettingsFile({1, 2}), std::nullopt, false},
        GateCase{"EmptyEntryAgainstInitial", SettingsFile({1, 2}), "", false},
        GateCase{"PrefixIsNotEnough", SettingsFile({1, 2}), "90", false},
        GateCase{"TrailingSpaceCounts", SettingsFile({1, 2}), "907 ", false},
        GateCase{"EmptyStoredOpensOnCancel", SettingsFile({1}, ""), std::nullopt, true},
        GateCase{"EmptyStoredOpensOnEmptyEntry", SettingsFile({1}, ""), "", true},
        GateCase{"EmptyStoredRefusesText", SettingsFile({1}, ""), "907", false},
        GateCase{"LowerCaseStoredRefusesUpper", SettingsFile({1}, "abc"), "ABC", false},
        GateCase{"LowerCaseStoredAcceptsLower", SettingsFile({1}, "abc"), "abc", true},
        GateCase{"EqualsSignWholePassword", SettingsFile({1}, "a=b=c"), "a=b=c", true},
        GateCase{"EqualsSignValueFieldAloneRefused", SettingsFile({1}, "a=b=c"), "a", false},
        GateCase{"ChinesePassword", SettingsFile({1}, "家长口令"), "家长口令", true},
        GateCase{"NoFileMeansInitial", std::nullopt, "907", true},
        GateCase{"NoMmSectionMeansInitial", "[HOUR]\r\nhou1=1\r\n", "907", true},
        GateCase{"EmptyMmSectionMeansInitial", "[mm]\r\n[HOUR]\r\nhou1=1\r\n", "907", true},
        GateCase{"LineWithoutEqualsMeansInitial", "[mm]\r\nnober\r\n", "907", true},
        GateCase{"LineWithoutEqualsRefusesItsText", "[mm]\r\nnober\r\n", "nober", false},
        GateCase{"OnlyTheFirstLineCounts", "[mm]\r\nnober=1\r\nnober2=2\r\n", "2", false}),
    [](const auto& tc) { return std::string(tc.param.name); });

// --- The settings window ---------------------------------------------------

struct VisitCase {
  const char* name;
  Visit visit;
  std::string file_after;  // starting from SettingsFile({1, 2, 3, 4, 5})
  std::vector<std::string> list_after;
  std::string text1_after;
};

void PrintTo(const VisitCase& c, std::ostream* os) { *os << c.name; }

class Visits : public ::testing::TestWithParam<VisitCase> {};

TEST_P(Visits, ChangeTheFileAndTheWindowAsExpected) {
  const auto& c = GetParam();
  Rig r;
  r.fx.profile.set_text(kFile, SettingsFile({1, 2, 3, 4, 5}));
  r.host.visit = c.visit;

  r.PressSettings("907");

  EXPECT_EQ(r.File(), c.file_after);
  EXPECT_EQ(r.host.last_list, c.list_after);
  EXPECT_EQ(r.host.last_text1, c.text1_after);
}

const std::vector<std::string> kOneToFive = {"1", "2", "3", "4", "5"};

INSTANTIATE_TEST_SUITE_P(
    Form2, Visits,
    ::testing::Values(
        VisitCase{"LookOnly", [](auto&, auto&) {}, SettingsFile({1, 2, 3, 4, 5}), kOneToFive, "907"},
        VisitCase{"AddNewHourGoesLastUnderHOUR",
                  [](FakeForm2View& v, settings::Form2& f) { v.combo = "23"; f.Command1_Click(); },
                  SettingsFile({1, 2, 3, 4, 5, 23}), {"1", "2", "3", "4", "5", "23"}, "907"},
        VisitCase{"AddListedHourChangesNothing",
                  [](FakeForm2View& v, settings::Form2& f) { v.combo = "3"; f.Command1_Click(); },
                  SettingsFile({1, 2, 3, 4, 5}), kOneToFive, "907"},
        VisitCase{"AddWithNothingPicked", [](auto&, settings::Form2& f) { f.Command1_Click(); },
                  SettingsFile({1, 2, 3, 4, 5}), kOneToFive, "907"},
        VisitCase{"DeleteThenAddPutsTheLineLast",
                  [](FakeForm2View& v, settings::Form2& f) {
                    v.Select("2");
                    f.Command2_Click();
                    EXPECT_FALSE(v.selection) << "the reload drops the selection";
                    v.combo = "2";
                    f.Command1_Click();
                  },
                  SettingsFile({1, 3, 4, 5, 2}), {"1", "3", "4", "5", "2"}, "907"},
        VisitCase{"DeleteWithNoSelectionChangesNothing",
                  [](auto&, settings::Form2& f) { f.Command2_Click(); }, SettingsFile({1, 2, 3, 4, 5}),
                  kOneToFive, "907"},
        VisitCase{"DeleteEveryHour",
                  [](FakeForm2View& v, settings::Form2& f) {
                    while (!v.items.empty()) {
                      v.selection = 0;
                      f.Command2_Click();
                    }
                  },
                  "[HOUR]\r\n[mm]\r\nnober=907\r\n[bb]\r\ntwo=0\r\n", {}, "907"},
        VisitCase{"UnsavedPasswordReplacedByAdd",
                  [](FakeForm2View& v, settings::Form2& f) {
                    v.text1 = "typed";
                    v.combo = "9";
                    f.Command1_Click();
                  },
                  SettingsFile({1, 2, 3, 4, 5, 9}), {"1", "2", "3", "4", "5", "9"}, "907"},
        VisitCase{"UnsavedPasswordReplacedByDelete",
                  [](FakeForm2View& v, settings::Form2& f) {
                    v.text1 = "typed";
                    v.Select("5");
                    f.Command2_Click();
                  },
                  SettingsFile({1, 2, 3, 4}), {"1", "2", "3", "4"}, "907"},
        VisitCase{"UnsavedPasswordKeptByRefusedAdd",
                  [](FakeForm2View& v, settings::Form2& f) {
                    v.text1 = "typed";
                    v.combo = "1";
                    f.Command1_Click();
                  },
                  SettingsFile({1, 2, 3, 4, 5}), kOneToFive, "typed"},
        VisitCase{"SavePasswordAsTyped",
                  [](FakeForm2View& v, settings::Form2& f) { v.text1 = "Ab=c"; f.Command3_Click(); },
                  SettingsFile({1, 2, 3, 4, 5}, "Ab=c"), kOneToFive, "Ab=c"},
        VisitCase{"SaveEmptyPassword",
                  [](FakeForm2View& v, settings::Form2& f) { v.text1.clear(); f.Command3_Click(); },
                  SettingsFile({1, 2, 3, 4, 5}, ""), kOneToFive, ""},
        VisitCase{"SavedPasswordShownWholeOnReload",
                  [](FakeForm2View& v, settings::Form2& f) {
                    v.text1 = "新=密码";
                    f.Command3_Click();
                    v.text1.clear();
                    v.combo = "7";
                    f.Command1_Click();
                  },
                  SettingsFile({1, 2, 3, 4, 5, 7}, "新=密码"), {"1", "2", "3", "4", "5", "7"}, "新=密码"}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(Form2Load, ShowsValueFieldsInFileOrderAndTheWholePassword) {
  FakeServices fx;
  fx.profile.set_text(kFile, "[HOUR]\r\nhou9=9\r\nhou0=0\r\nhou5=5=x\r\n[mm]\r\nnober=p=q\r\n");
  FakeForm1View main(fx.log);
  guard::Form1 form1(fx.services, main);
  FakeForm2View view(fx.log);
  settings::Form2 form(fx.services, view, form1);
  view.items = {"stale"};
  form.Form_Load();
  EXPECT_EQ(view.items, (std::vector<std::string>{"9", "0", "5"}));
  EXPECT_EQ(view.text1, "p=q");
}

TEST(Form2Close, EveryWayOutTurnsTheTimerOnAndRefreshesTheHoursLine) {
  struct Way { const char* name; Visit visit; bool program_ends; };
  const Way ways[] = {
      {"close button", [](auto&, auto&) {}, false},
      {"end button", [](auto&, settings::Form2& f) { f.Command4_Click(); }, true},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    Rig r;
    r.fx.profile.set_text(kFile, SettingsFile({3, 1, 2}));
    r.main.hours = "stale";
    r.host.visit = way.visit;
    r.fx.registry.values["Run\\guard"] = "D:\\tools\\guard.exe";

    const Log calls = r.PressSettings("907");

    Log tail = {"close Form2", "timer on", "Label2 ", "Label2 " + HoursLine({2, 1, 3})};
    if (way.program_ends) tail.push_back("unload Form1");
    ASSERT_GE(calls.size(), tail.size());
    EXPECT_EQ(Log(calls.end() - static_cast<long>(tail.size()), calls.end()), tail);
    EXPECT_EQ(r.main.unloaded, way.program_ends);
    EXPECT_EQ(r.File(), SettingsFile({3, 1, 2})) << "the file stays";
    EXPECT_EQ(r.fx.registry.values.size(), 1u) << "the Run value stays";
    EXPECT_EQ(r.fx.profile.writes, 0);
  }
}

// The typical road: the parent removes 22 and 23 at 21:30; from 22:00 the
// window locks again.
TEST(Road, DeletedHoursLockAfterTheClose) {
  Rig r;
  r.fx.profile.set_text(kFile, test::FirstRunFileText());
  r.fx.clock.set_hour(21, 30);
  r.form1.Timer1_Timer();
  r.host.visit = [](FakeForm2View& v, settings::Form2& f) {
    for (const char* h : {"22", "23"}) {
      v.Select(h);
      f.Command2_Click();
    }
  };

  r.PressSettings("907");

  EXPECT_EQ(r.main.hours, HoursLine({21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
  ASSERT_TRUE(r.main.fake_timer().enabled());
  r.form1.Timer1_Timer();
  EXPECT_FALSE(r.main.fake_window().topmost);
  r.fx.clock.set_hour(22, 0);
  r.form1.Timer1_Timer();
  EXPECT_TRUE(r.main.fake_window().topmost);
}

TEST(Road, NoHoursLeftLocksAtEveryHour) {
  Rig r;
  r.fx.profile.set_text(kFile, SettingsFile({0, 12}));
  r.host.visit = [](FakeForm2View& v, settings::Form2& f) {
    while (!v.items.empty()) {
      v.selection = v.items.size() - 1;
      f.Command2_Click();
    }
  };
  r.PressSettings("907");
  EXPECT_EQ(r.main.hours, "");
  for (int hour = 0; hour < 24; ++hour) {
    r.fx.clock.set_hour(hour);
    r.main.fake_window().topmost = false;
    r.form1.Timer1_Timer();
    EXPECT_TRUE(r.main.fake_window().topmost) << "hour " << hour;
  }
}

}  // namespace
}  // namespace qorvel
