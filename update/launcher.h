// modAutoUpdateV1_Launcher: at every start, before sign-in, make sure the
// newest build runs. The program does not compare versions itself: it keeps
// the update checker "Strovant.exe" beside it current (by the checker's own
// build number against the number the update server announces), runs it,
// and when the checker has left "New_" + EXE in the program folder, hands
// the swap over to the replacement program "Melquid.exe" and ends.
//
// Everything that touches processes goes through LauncherEnv, so that the
// start-up uses the real operations and tests can stand in for the two
// companion programs, which are Windows programs outside this system.
#pragma once

#include <functional>
#include <string>

#include "util/prompter.h"
#include "util/settings_store.h"

namespace brenvo::update {

inline constexpr const char* kCheckerName = "Strovant.exe";
inline constexpr const char* kReplacerName = "Melquid.exe";
inline constexpr const char* kNewBuildPrefix = "New_";

struct LauncherEnv {
  std::string appFolder;     // APP: the folder of the running executable
  std::string exeName;       // EXE: the running executable's file name
  int revision = 0;          // third component of the running build's version
  std::string updateServer;  // host (or host:port) of the update server
  Prompter* prompter = nullptr;

  // Runs file with parameters in directory, shown normally, and returns when
  // it has ended; returns at once when nothing could be started.
  std::function<void(const std::string& file, const std::string& parameters, const std::string& directory)>
      runAndWait;
  // Starts program with one parameter text without waiting; false when it
  // could not be started.
  std::function<bool(const std::string& program, const std::string& parameters, bool minimized)> start;
  // Opens folder in the file browser; false when that could not be started.
  std::function<bool(const std::string& folder)> openFolder;
  // Ends the whole program at once. Production never returns from it.
  std::function<void()> endProgram;
};

// "http://" + server + "/download/자동업데이트_v1/"
std::string UpdateBaseUrl(const std::string& server);

// The environment of the running program: its folder and file name, the
// update server from the settings (key "UpdateServer" of programTitle), the
// real process operations.
LauncherEnv ProgramLauncherEnv(Prompter& prompter, const SettingsStore& settings, const std::string& programTitle,
                               int revision);

// Always false; the caller ignores it. skipSelfUpdate true leaves the
// checker as it is and runs it at once.
bool RunAutoUpdate(bool& skipSelfUpdate, LauncherEnv& env);

// True when the checker is current or was refreshed; false when the version
// file could not be read or a download failed.
bool AutoUpdaterSelfUpdate(LauncherEnv& env);

}  // namespace brenvo::update
