#pragma once
// The pieces of the main window's start-up that are worth naming on their own.
#include <chrono>
#include <string>
#include <string_view>

#include "platform/services.h"

namespace qorvel::guard {

inline constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The initial password is part of the text on purpose: it is the only place
// a new user learns it, so it stays "907" whatever the password is now.
inline constexpr std::string_view kRegisterPrompt =
    "是否加入开机启动\r\n软件显示屏幕左上角\r\n初始密码:907";
inline constexpr std::string_view kRegisterDone = "设置成功,重启后生效";
inline constexpr std::string_view kRegisterFailed = "设置失败,请以管理员身份运行后重试";
// Each of the start-up's boxes gives up after this, as the password prompt
// does: a box left open stands above the lock. A prompt given up counts as
// Cancel, so it is asked again at the next start.
inline constexpr std::chrono::seconds kStartupBoxLimit{60};

// The command line registered under the Run key: directory, "\", name. The
// separator is always inserted, so a drive root gives two in a row. Quoted
// when it holds a space, so Windows cannot start a program found on a
// shorter part of the path.
[[nodiscard]] std::string RunCommand(std::string_view directory, std::string_view name);

// Creates the settings file with its first-run contents when it is missing.
// Any failure abandons the rest of the writing; the file is never repaired.
void WriteFirstRunFile(platform::Services& services);

// True when the first line of [bb] says the registration was accepted.
[[nodiscard]] bool StartupRegistered(platform::ProfileFile& profile);

// Asks to start with Windows; on OK registers and remembers it. Runs while
// the hour check does: the window is shown and its timer ticks.
void OfferStartupRegistration(platform::Services& services);

}  // namespace qorvel::guard
