// Small PE files written byte by byte, for tests of the version reader and
// of the launcher: a version block laid out as the resource compiler lays it
// out, wrapped in a PE32 or PE32+ image with one .rsrc section.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace brenvo::test {

struct VersionInfo {
  std::string tableKey = "041204b0";                         // language + code page
  std::vector<std::pair<std::string, std::string>> strings;  // key, value (UTF-8)
  bool withStringFileInfo = true;
};

// A VS_VERSIONINFO block: fixed info, StringFileInfo with one table, VarFileInfo.
std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info);

struct PeOptions {
  bool pe32plus = true;
  bool withResource = true;  // false: a resource section without RT_VERSION
  bool withResourceDirectory = true;
};

// A complete PE image whose RT_VERSION/1/lang resource is block.
std::vector<uint8_t> BuildPe(const std::vector<uint8_t>& block, const PeOptions& opt = {});

// Shorthand: a PE file whose "FileVersion" string is version.
std::vector<uint8_t> PeWithFileVersion(const std::string& version);

}  // namespace brenvo::test
