// A copy-run workplace: a Brenvo folder with the fixture files in its DBS,
// a CS database on the test server with an account that has the fixed CS
// password, a window-less console answering from a script, and the real
// connection procedures.
#pragma once

#include <filesystem>
#include <memory>

#include "mariadb_test_db.h"
#include "support/test_support.h"
#include "transfer/console_state.h"
#include "transfer/copy_run.h"
#include "transfer/services.h"
#include "util/settings_store.h"

namespace brenvo::test {

// The window-less console, with a hook on the row bar so a test can act in
// the middle of a table, and a cancel request a test can raise.
class HookedConsole : public ConsoleState {
 public:
  using ConsoleState::ConsoleState;
  void SetProgressValue(int bar, int value) override {
    ConsoleState::SetProgressValue(bar, value);
    if (bar == 0 && onRow) onRow(value);
  }
  bool CancelRequested() const override { return cancel; }
  std::function<void(int)> onRow;
  bool cancel = false;  // what the Cancel button would set
};

// A table of an Access file (the fixtures' password) as CSV by the fixtures' rules.
std::string MdbExport(const std::filesystem::path& file, const std::string& table);
// Every table of file equal to the reference export of dbMain.mdb, and the file sound.
void ExpectLikeReference(const std::filesystem::path& file);

// The run read back every one of tables tables and found them equal.
void ExpectVerifiedEqual(const CopyRunResult& r, size_t tables);

class CopyRunTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Puts a fixture file (relative to fixtures/brenvo) into DBS under name.
  void PlaceMdb(const std::string& fixture, const std::string& name);
  // The CS DB from the CS schema on server (default: the CS server) and the
  // account id / rt528164 on it; sets the console's three fields.
  void MakeCsDb(const MariaServer& server, const std::string& host);
  void Mark(std::initializer_list<const char*> tables);
  // f, once, when the run reaches the given row of the given table.
  void AtRow(const std::string& table, int row, std::function<void()> f);
  // Ends every server connection of the run's account (the CS server gone).
  void KillRunConnections();

  CopyRunResult Run() { return cmdStart_Click(*console, services); }
  // The pane's lines.
  std::vector<std::string> Lines() const;
  long long CsCount(const std::string& table);
  // Every row of a CS table as CSV by the fixtures' rules (DATE columns as
  // midnight date-times, as Access holds them).
  std::string CsExport(const std::string& table);

  TempDir dir;
  std::filesystem::path dbs;
  std::unique_ptr<SettingsStore> settings = MakeMemorySettingsStore();
  ScriptedPrompter prompter;
  std::unique_ptr<HookedConsole> console;
  TransferServices services;
  MariaServer cs;
  std::string id, db;
  std::unique_ptr<ScopedDatabase> scoped;
};

}  // namespace brenvo::test
