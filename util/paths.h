// Paths are composed the way the host application composes them (folder +
// separator + name, nothing normalised) with the platform's separator.
#pragma once

#include <string>

namespace brenvo {

#ifdef _WIN32
inline constexpr const char* kDirSep = "\\";
// Default installation root of a host application whose AppPath is not set.
inline constexpr const char* kDefaultAppRoot = "C:\\";
#else
inline constexpr const char* kDirSep = "/";
inline constexpr const char* kDefaultAppRoot = "/opt/";
#endif

// folder + separator + name, as given (a trailing separator doubles).
inline std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + kDirSep + name;
}

}  // namespace brenvo
