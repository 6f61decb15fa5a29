// modFile: the version resource of a Windows executable (.exe / .dll) read
// straight from the PE file, without the Windows version functions.
//
// The block (VS_VERSIONINFO) is handled the way the console always handled
// it: as one run of 16-bit characters in which every string entry is a type
// word 1, its NUL-terminated key, padding NULs and its NUL-terminated value.
// The entries are found by searching, not by walking the tree, so a block
// that does not follow the layout exactly still yields what can be found.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/prompter.h"

namespace brenvo {

// "CompanyName;FileDescription;...;Language": the thirteen entries of
// GetFileVer, in this order. Index 2 is "FileVersion", 12 "Language".
inline constexpr const char* kFileVerKeys =
    "CompanyName;FileDescription;FileVersion;InternalName;LegalCopyright;OriginalFilename;"
    "ProductName;ProductVersion;Comments;LegalTrademarks;PrivateBuild;SpecialBuild;Language";
inline constexpr int kFileVerKeyCount = 13;
inline constexpr int kFileVersionIndex = 2;

// The raw version block (the RT_VERSION resource's data) of the PE file at
// path, or nothing when the file cannot be read, is not a PE file, or has no
// version resource. Malformed files give nothing, never a crash.
std::optional<std::vector<uint8_t>> ReadVersionBlock(const std::string& path);

// The thirteen "key: value" texts of the file's version block ("key: Not
// specified" for a key the block lacks, "Language: " + name last), or an
// empty vector when the file has no readable version block. A failure while
// reading the entries is reported through prompter (when given) and what was
// built so far is returned.
std::vector<std::string> GetFileVer(const std::string& path, Prompter* prompter = nullptr);

// The same, from a version block already in memory.
std::vector<std::string> ParseFileVer(const std::vector<uint8_t>& block);

// English name of the Windows language whose code is the first four
// characters of code, compared without regard to case; "" when unknown.
std::string GetLanguageName(std::string_view code);

// The "FileVersion" value. withLast: its last dot-separated number written
// without leading zeros ("1.00.0015" -> "1.00.15"); otherwise the version
// without its last number ("1.00"). "" when the file has no version block or
// the value does not have that form; unless silent, that failure is first
// reported through prompter.
std::string GetFileVerText(const std::string& path, bool withLast, bool silent, Prompter* prompter = nullptr);

}  // namespace brenvo
