// The work-log file: appended line by line in CP949 with CR LF, one open and
// close per line, every failure passed over (the log must never stop work).
#pragma once

#include <ctime>
#include <string>

namespace brenvo {

// folder + "/" + "yyyymmdd_hhmmss_" + userId + ".log", local time t.
std::string MakeLogFilePath(const std::string& folder, const std::string& userId, std::time_t t);

// Appends line + CR LF to path, converted to CP949. Returns false on failure
// (callers pass over it).
bool AppendLineCp949(const std::string& path, const std::string& line);

}  // namespace brenvo
