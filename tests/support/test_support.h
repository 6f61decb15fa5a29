// Shared pieces of the test suites: a scripted prompter, temporary folders,
// where the shared fixtures are, and the test servers' addresses.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "util/prompter.h"

namespace brenvo::test {

// Records every message and question; answers questions from a queue. A
// question with no answer queued fails the test (and answers No).
class ScriptedPrompter : public Prompter {
 public:
  struct Shown {
    std::string text;
    std::string title;
    Icon icon = Icon::None;
    bool question = false;
    bool defaultNo = false;
  };

  void QueueAnswer(bool yes) { answers_.push_back(yes); }
  void QueueAnswers(std::initializer_list<bool> yes) { answers_.insert(answers_.end(), yes); }

  void Message(const std::string& text, const std::string& title, Icon icon) override {
    shown_.push_back({text, title, icon, false, false});
  }
  bool Ask(const std::string& text, const std::string& title, Icon icon, bool defaultNo) override {
    shown_.push_back({text, title, icon, true, defaultNo});
    if (answers_.empty()) {
      ADD_FAILURE() << "unexpected question: " << text;
      return false;
    }
    bool a = answers_.front();
    answers_.pop_front();
    return a;
  }

  const std::vector<Shown>& shown() const { return shown_; }
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& s : shown_)
      if (!s.question) out.push_back(s.text);
    return out;
  }
  size_t pendingAnswers() const { return answers_.size(); }
  void clear() { shown_.clear(); }

 private:
  std::deque<bool> answers_;
  std::vector<Shown> shown_;
};

// A temporary folder removed with everything in it at the end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// The shared fixtures folder, or empty when it is absent.
std::filesystem::path FixturesDir();
// The reference export of a table of dbMain.mdb (fixtures/brenvo/expected).
std::string ExpectedCsv(const std::string& table);
std::string ReadFile(const std::filesystem::path& p);
// Bytes as lower-case hex, sep between two bytes.
std::string Hex(const std::vector<uint8_t>& bytes, const char* sep = "");
void WriteFile(const std::filesystem::path& p, const std::string& bytes);

// Test server addresses from the environment the harness exports
// (BRENVO_TEST_<NAME>), or empty when the servers were not started.
std::string TestEnv(const std::string& name);

}  // namespace brenvo::test

// Skips the test with a clear message when the shared fixtures are absent.
#define REQUIRE_FIXTURES()                                                           \
  do {                                                                               \
    if (::brenvo::test::FixturesDir().empty())                                       \
      GTEST_SKIP() << "shared fixtures folder not found (set BRENVO_FIXTURES)";      \
  } while (0)

// Skips the test when a test server variable is not set (servers not started).
#define REQUIRE_TEST_ENV(var)                                                        \
  do {                                                                               \
    if (::brenvo::test::TestEnv(var).empty())                                        \
      GTEST_SKIP() << "test server not started: BRENVO_TEST_" << var << " unset";   \
  } while (0)
