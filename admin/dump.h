// Button "지금dump": dump the CS database named in step 3 with mysqldump,
// and for the local server pack it with 7z and upload the archive by FTP to
// the server the management table names for it. Progress shows in the
// window's caption, results in the log pane.
#pragma once

#include <string>
#include <vector>

#include "screen/console.h"
#include "util/credentials.h"

namespace brenvo::admin {

// The tools, looked up on PATH. 7-Zip is "7z" (Debian's p7zip-full) or
// "7zz" (the 7zip package); the command lines are the same for both.
inline constexpr const char* kMysqlDumpProgram = "mysqldump";
std::string SevenZipProgram();
// The FTP account and port of the upload.
inline constexpr int kFtpPort = 21;

// Where the tools are taken from; tests point them elsewhere.
struct DumpTools {
  std::string mysqldump = kMysqlDumpProgram;
  std::string sevenZip = SevenZipProgram();
};

// silent: both questions taken as Yes and the final notice left out.
void DumpAndUpload(Console& console, bool& silent, const DumpTools& tools = {});
void btnDump_Click(Console& console);

// The argument vectors, without the program name. The root password never
// appears in them: mysqldump reads it from optionsFile, a file only its
// owner can read. A database name is put after "--", so one that starts
// with "-" stays a name.
std::vector<std::string> MysqldumpArguments(const std::string& optionsFile, const std::string& db,
                                            const std::string& host);
std::vector<std::string> SevenZipArguments(const std::string& archive, const std::string& sqlFile);

// The [client] options file that carries the password (and the local
// server's socket when one is set), in the option-file syntax: values
// quoted, backslash and quote escaped.
std::string MysqlOptionsText(const std::string& password, const std::string& socket);

// False when db cannot name a file inside the dump folder ("/", NUL, "."
// or ".."): such a name would put the dump somewhere else.
bool UsableAsFileName(const std::string& db);

}  // namespace brenvo::admin
