// brenvo-convert: the console's copy run from the command line, for
// technicians who convert many customers in a row, and for benchmarks.
// It runs exactly the engine the window runs; only the screen differs:
// pane lines and messages go to standard output, and questions are answered
// Yes with --yes, otherwise the first question ends the run (exit code 2).
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "db/mysql/cmysql.h"
#include "transfer/console_state.h"
#include "transfer/copy_run.h"
#include "transfer/services.h"
#include "util/settings_store.h"

namespace {

using namespace brenvo;

constexpr const char* kUsage =
    "usage: brenvo-convert --direction 0|1|2 --app-path FOLDER [--id ID] [--db NAME] [--host HOST]\n"
    "                      [--tables a,b,...] [--skip-field-check] [--fix-zero-dates] [--yes]\n"
    "                      [--log-dir FOLDER] [--no-verify] [--config KEY=VALUE ...]\n"
    "  --direction  0 Brenvo -> CS, 1 CS -> Brenvo, 2 Brenvo -> Brenvo\n"
    "  --app-path   the Brenvo folder whose DBS holds dbMain.mdb (and empty-dbMain.mdb)\n"
    "  --db         CS database name (default brenvocs_ + ID)\n"
    "  --tables     only these catalogue tables (default all), copied in catalogue order\n"
    "  --yes        answer Yes to every question; without it a question ends the run (exit 2)\n"
    "  --log-dir    folder of the run's log file (default: the current folder)\n"
    "  --no-verify  do not read the copied tables back and compare them with the source\n"
    "  --config     a key of the program's own \"Config\" settings (server overrides)\n"
    "exit codes: 0 every row copied and read back equal, 1 stopped, cancelled, rows failed, an error\n"
    "            or a difference found, 2 a question was not answered, 64 bad arguments\n";

class CliPrompter : public Prompter {
 public:
  explicit CliPrompter(bool yes) : yes_(yes) {}
  void Message(const std::string& text, const std::string& title, Icon) override {
    std::cout << "[메시지" << (title.empty() ? "" : ": " + title) << "] " << Flat(text) << std::endl;
  }
  bool Ask(const std::string& text, const std::string& title, Icon, bool) override {
    std::cout << "[질문] " << Flat(text) << (yes_ ? " -> 예" : " -> (--yes 없음: 중단)") << std::endl;
    if (!yes_) unanswered_ = true;
    return yes_;
  }
  bool unanswered() const { return unanswered_; }

 private:
  static std::string Flat(std::string s) {
    for (size_t p; (p = s.find("\r\n")) != std::string::npos;) s.replace(p, 2, " / ");
    return s;
  }
  bool yes_;
  bool unanswered_ = false;
};

int Fail(const std::string& what) {
  std::cerr << "brenvo-convert: " << what << "\n" << kUsage;
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  int direction = -1;
  std::string appPath, id, db, host, tables, logDir;
  bool dbGiven = false, skip = false, fixDates = false, yes = false, verify = true;
  std::vector<std::pair<std::string, std::string>> config;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(std::string(name) + " needs a value");
      return argv[++i];
    };
    try {
      if (a == "--direction") {
        std::string v = value("--direction");
        if (v != "0" && v != "1" && v != "2") return Fail("--direction must be 0, 1 or 2");
        direction = v[0] - '0';
      } else if (a == "--app-path") appPath = value("--app-path");
      else if (a == "--id") id = value("--id");
      else if (a == "--db") { db = value("--db"); dbGiven = true; }
      else if (a == "--host") host = value("--host");
      else if (a == "--tables") tables = value("--tables");
      else if (a == "--log-dir") logDir = value("--log-dir");
      else if (a == "--skip-field-check") skip = true;
      else if (a == "--fix-zero-dates") fixDates = true;
      else if (a == "--yes") yes = true;
      else if (a == "--no-verify") verify = false;
      else if (a == "--config") {
        std::string kv = value("--config");
        auto eq = kv.find('=');
        if (eq == std::string::npos || eq == 0) return Fail("--config takes KEY=VALUE");
        config.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
      } else if (a == "-h" || a == "--help") {
        std::cout << kUsage;
        return 0;
      } else {
        return Fail("unknown argument " + a);
      }
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
  }
  if (direction < 0) return Fail("--direction is required");
  if (appPath.empty()) return Fail("--app-path is required");
  if (logDir.empty()) {
    char cwd[4096];
    logDir = getcwd(cwd, sizeof cwd) ? cwd : ".";
  }

  auto settings = MakeMemorySettingsStore();
  settings->Save("Brenvo", "Config", "AppPath", appPath);
  for (const auto& [k, v] : config) settings->Save(kProgramTitle, "Config", k, v);
  mysql::UseLocalSocket(settings->Get(kProgramTitle, "Config", "LocalSocket", ""));
  CliPrompter prompter(yes);
  ConsoleState console(prompter, *settings, logDir);
  console.SetDirection(direction);
  console.SetText(Control::Text1_0, id);
  console.SetText(Control::Text1_1, dbGiven ? db : "brenvocs_" + id);
  console.SetText(Control::cmbHost, host);
  console.SetChecked(Control::chkLocal, host == "localhost");
  console.SetChecked(Control::chkSkipFidSize, skip);
  console.SetChecked(Control::chkE_FAIL, fixDates);
  if (!tables.empty()) {
    console.catalogue().MarkAll(false);
    std::stringstream list(tables);
    for (std::string t; std::getline(list, t, ',');) {
      int i = console.catalogue().IndexOf(t);
      if (i < 0) return Fail("no table " + t + " in the catalogue");
      console.catalogue().at(i).marked = true;
    }
  }
  console.OnLogLine([](const std::string& line) { std::cout << line << std::endl; });
  console.FormLogFilePath();

  TransferServices services = DefaultTransferServices(console);
  CopyRunOptions options;
  options.verify = verify;
  CopyRunResult r = cmdStart_Click(console, services, options);
  if (prompter.unanswered()) return 2;
  long long differing = 0;
  for (const auto& v : r.verification) differing += v.differing;
  std::cout << "rows stored " << r.rowsStored << ", failed " << r.rowsFailed << ", errors " << r.errorsReported
            << ", differing " << differing << ", log " << console.LogFilePath() << std::endl;
  return r.Succeeded() ? 0 : 1;
}
