// modFTP: one FTP connection at a time over libcurl, and the upload of a
// local file in 1024-byte blocks with a progress display.
//
// The operations report their failures in message boxes themselves and give
// the caller only a Boolean. The error numbers in those messages are
// libcurl's result codes (7 could not connect, 67 login refused, 25 upload
// refused, ...), the nearest thing here to the platform's last error.
//
// What differs from the old client, on purpose: the local file is opened
// before anything is asked of the server, so a missing file leaves no empty
// file behind there; and FTP_Close forgets the handles it closed, so a later
// upload cannot use a connection that is gone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "util/prompter.h"

typedef void CURL;

namespace brenvo {
class Console;
}

namespace brenvo::admin {

inline constexpr int kFtpBlockSize = 1024;
inline constexpr int kFtpProgressCap = 32767;
inline constexpr const char* kFtpAgent = "KARVO";

// What the upload moves along: a progress bar of the main window.
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual int Max() const = 0;
  virtual void SetMax(int max) = 0;
  virtual int Value() const = 0;
  virtual void SetValue(int value) = 0;
  // True once the person at the screen asked to stop: the upload ends
  // without a message of its own.
  virtual bool Cancelled() const { return false; }
};

// One of the main window's two progress bars.
class ConsoleProgress : public ProgressDisplay {
 public:
  ConsoleProgress(Console& console, int bar) : console_(console), bar_(bar) {}
  int Max() const override;
  void SetMax(int max) override;
  int Value() const override;
  void SetValue(int value) override;
  bool Cancelled() const override;

 private:
  Console& console_;
  int bar_;
};

// The module's state: the session and the connection of the last FTP_Open.
class FtpClient {
 public:
  explicit FtpClient(Prompter& prompter);
  ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Logs in at server:port. Only passive == 1 selects passive mode. A new
  // open replaces the previous connection.
  bool FTP_Open(const std::string& server, const std::string& user, const std::string& password,
                int16_t port, int16_t passive);
  // Stores localFile as remoteFolder + "/" + remoteName (remoteName empty:
  // the local file's own name) over the open connection. True when every
  // byte was written. progress may be null.
  bool FTP_UPLoad(const std::string& localFile, const std::string& remoteFolder, std::string remoteName,
                  ProgressDisplay* progress);
  void FTP_Close();

  bool connected() const { return connection_ != nullptr; }
  // Writes handed to the server by the last FTP_UPLoad: one per whole block
  // and one for the rest.
  int lastWriteCount() const { return writes_; }

 private:
  struct Connection;
  bool Upload(const std::string& localFile, const std::string& remotePath, ProgressDisplay* progress);

  Prompter& prompter_;
  CURL* session_ = nullptr;
  std::unique_ptr<Connection> connection_;
  int writes_ = 0;
};

}  // namespace brenvo::admin
