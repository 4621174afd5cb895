// The password gate and the settings window on fakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "settings/form2.h"
#include "settings/password_gate.h"
#include "support/fakes.h"

namespace qorvel {
namespace {

using test::Log;
using List = std::vector<std::string>;

// The settings window as values. Each opening runs `script` on it, then closes
// it unless the script ended it. Words: "pick H", "add", "select H", "delete",
// "type TEXT", "clear", "save", "end".
struct ScriptedForm2 final : settings::Form2Host, settings::Form2View {
  ScriptedForm2(test::FakeServices& services, guard::Form1& main) : fx(services), form1(main) {}
  void clear_list() override { items.clear(); selection.reset(); }
  void add_list_item(std::string_view text) override { items.emplace_back(text); }
  List list_items() const override { return items; }
  std::optional<std::size_t> selected_index() const override { return selection; }
  std::string combo_text() const override { return combo; }
  std::string password_text() const override { return text1; }
  void set_password_text(std::string_view text) override { text1 = text; }
  void set_status_text(std::string_view text) override {
    if (!text.empty() || !status.empty()) fx.log.push_back("status " + std::string(text));
    status = text;
  }
  void close() override { closed = true; fx.log.push_back("close Form2"); form->Form_QueryUnload(); }
  void show_modal() override {
    fx.log.push_back("Form2 shown");
    settings::Form2 f(fx.services, *this, form1);
    form = &f;
    f.Form_Load();
    std::istringstream in(script);
    for (std::string word, arg; in >> word;) {
      if (word == "pick") in >> combo;
      if (word == "add") f.Command1_Click();
      if (word == "select" && in >> arg) selection = std::find(items.begin(), items.end(), arg) - items.begin();
      if (word == "delete") f.Command2_Click();
      if (word == "type") in >> text1;
      if (word == "clear") text1.clear();
      if (word == "save") f.Command3_Click();
      if (word == "end") f.Command4_Click();
      if (word == "beat") form1.Heartbeat();
    }
    if (!closed) close();
  }
  test::FakeServices& fx;
  guard::Form1& form1;
  settings::Form2* form = nullptr;
  std::string script, combo, text1, status;
  List items;
  std::optional<std::size_t> selection;
  bool closed = false;
};

// The main window over two monitors: a locked tick covers the second.
struct Rig : test::FakeGuard {
  ScriptedForm2 host{fx, form};
  settings::PasswordGate gate{fx.services, form, host};
  test::FakeScreen screens{fx.log};
  guard::Covers covers{screens, nullptr};
  Rig() { form.set_settings_door(&gate); form.set_covers(&covers); }
  // "设置", answered with `typed` ("": Cancel); an opened settings window runs `script`.
  Log Press(std::string typed, std::string script = "") {
    fx.system.typed = std::move(typed);
    host.script = std::move(script);
    return Calls([&] { form.Command2_Click(); });
  }
};

std::string SettingsFile(const List& hours, std::string_view password = "907") {
  std::vector<int> numbers;
  for (const auto& h : hours) numbers.push_back(std::stoi(h));
  return test::SettingsText(numbers, password);
}

TEST(PasswordGate, OpensOnlyOnTheExactPasswordAndAlwaysRestartsTheGuard) {
  // `guardian`: the password of a guardian that owns the file, which the
  // guard then cannot read; "-" for one that refuses or does not answer.
  const struct { std::optional<std::string> file; const char* typed; bool opens; std::optional<std::string> guardian; } cases[] = {
      {SettingsFile({"1"}), "907", true, {}},         {SettingsFile({"1"}), "908", false, {}},
      {SettingsFile({"1"}), "", false, {}},           {SettingsFile({"1"}), "90", false, {}},
      {SettingsFile({"1"}, ""), "", true, {}},        {SettingsFile({"1"}, "abc"), "ABC", false, {}},
      {SettingsFile({"1"}, "a=b"), "a=b", true, {}},  {std::nullopt, "907", true, {}},
      {"[HOUR]\r\nhou1=1\r\n", "907", true, {}},      {"[mm]\r\nnober\r\n", "907", true, {}},
      // Where the guardian owns the file its verdict alone counts, never a default.
      {std::nullopt, "abc", true, "abc"},             {std::nullopt, "907", false, "abc"},
      {SettingsFile({"1"}), "907", false, "-"},
  };
  for (const auto& c : cases) {
    Rig r;
    if (c.file) r.SetFile(*c.file);
    r.fx.system.guardian_password = c.guardian;
    r.form.Timer1_Timer();
    const Log calls = r.Press(c.typed);
    // Still topmost while the prompt is up: only the parent's success drops
    // the main window and the covers, until the next tick raises them again.
    Log refused = {"timer off", "input 请输入密码 / app masked 60", "timer on", "pos -1 3"};
    Log opened = {"timer off", "input 请输入密码 / app masked 60", "proof " + std::string(c.typed), "timer off", "pos -2 3",
                  "lower 1280,0,2304,768", "Form2 shown", "close Form2", "timer on", "Label2 ", "Label2 " + r.view.hours};
    Log& expected = c.opens ? opened : refused;
    if (c.guardian) expected.insert(expected.begin() + 2, "guardian check " + std::string(c.typed));
    EXPECT_EQ(calls, expected) << c.file.value_or("no file") << " typed " << c.typed;
    EXPECT_EQ(r.File(), c.file.value_or("<none>")) << "the gate never writes";
    EXPECT_EQ(r.Calls([&] { r.form.Timer1_Timer(); }).back(), "raise 1280,0,2304,768");
  }
}

TEST(Heartbeat, TellsTheGuardianWhatTheWindowShowsWhileTheHourCheckIsOff) {
  Rig r;
  r.SetFile(SettingsFile({"5"}));
  r.fx.clock.set_hour(5);
  r.form.Timer1_Timer();
  r.form.Heartbeat();
  r.fx.clock.set_hour(6);
  r.form.Timer1_Timer();
  r.form.Heartbeat();
  r.fx.system.while_asking = [&] { r.form.Heartbeat(); };
  r.Press("907", "beat");
  r.form.Heartbeat();  // closed, the timer on again: the layout of the last check
  r.Press("wrong");
  EXPECT_EQ(r.fx.system.reports, (Log{"compact", "locked", "asking", "settings", "locked", "asking"}));
}

TEST(Form2, ASaveThatDoesNotLandIsSaidAndTheWindowShowsTheFile) {
  const List five = {"1", "2", "3", "4", "5"};
  const struct { const char* script; const char* text1; const char* told; } cases[] = {
      {"pick 7 add end", "907", "907"},
      {"select 1 delete end", "907", "907"},
      // The old password still holds, so it still proves the parent.
      {"type new save end", "907", "907"},
  };
  for (const auto& c : cases) {
    Rig r;
    r.SetFile(SettingsFile(five));
    r.fx.profile.fail_writes = true;
    const Log calls = r.Press("907", c.script);
    EXPECT_EQ(r.host.items, five) << c.script;
    EXPECT_EQ(r.host.text1, c.text1) << c.script;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "status 保存失败"), 1) << c.script;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "guardian quit " + std::string(c.told)), calls.end()) << c.script;
  }
  // A save that lands says nothing, and clears what a failed one said.
  Rig r;
  r.SetFile(SettingsFile(five));
  r.host.status = "保存失败";
  const Log calls = r.Press("907", "pick 7 add");
  EXPECT_NE(std::find(calls.begin(), calls.end(), "status "), calls.end());
  EXPECT_EQ(r.host.status, "");
}

TEST(Form2, AddDeleteSaveAndEndChangeTheFileAndReloadTheWindow) {
  const List five = {"1", "2", "3", "4", "5"};
  // End tells the guardian the saved password, the proof, not one typed but never saved.
  const struct { const char* script; List hours; const char *password, *text1, *told = nullptr; } cases[] = {
      {"add", five, "907", "907"},
      {"select 2 delete pick 2 add", {"1", "3", "4", "5", "2"}, "907", "907"},
      {"delete", five, "907", "907"},
      {"select 1 delete select 2 delete select 3 delete select 4 delete select 5 delete", {}, "907", "907"},
      {"clear save", five, "", ""},
      {"type 新=密码 save clear pick 7 add", {"1", "2", "3", "4", "5", "7"}, "新=密码", "新=密码"},
      {"type 新密码 save end", five, "新密码", "新密码", "新密码"},
      {"type typed end", five, "907", "typed", "907"},
  };
  for (const auto& c : cases) {
    Rig r;
    r.SetFile(SettingsFile(five));
    const Log calls = r.Press("907", c.script);
    EXPECT_EQ(r.File(), SettingsFile(c.hours, c.password)) << c.script;
    EXPECT_EQ(r.host.items, c.hours) << c.script;
    EXPECT_EQ(r.host.text1, c.text1) << c.script;
    if (!c.told) continue;
    EXPECT_EQ(Log(calls.end() - 6, calls.end()), (Log{"guardian quit " + std::string(c.told), "close Form2", "timer on",
                                                      "Label2 ", "Label2 5点  4点  3点  2点  1点  ", "unload Form1"})) << c.script;
  }
}

}  // namespace
}  // namespace qorvel
