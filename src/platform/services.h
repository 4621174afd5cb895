#pragma once
// Everything the core asks of the platform, handed to it in one bundle.
#include "platform/clock_process.h"
#include "platform/dialogs.h"
#include "platform/profile_file.h"
#include "platform/system.h"
#include "platform/window_host.h"

namespace qorvel::platform {

struct Services {
  ProfileFile& profile;
  Clock& clock;
  ProcessInfo& process;
  FileSystem& files;
  Privilege& privilege;
  Power& power;
  Shell& shell;
  Registry& registry;
  Dialogs& dialogs;
  GuardianLink& guardian;
};

}  // namespace qorvel::platform
