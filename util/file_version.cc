#include "util/file_version.h"
#include "util/utf16.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>

#include "util/error.h"

namespace brenvo {
namespace {

// ---------------------------------------------------------------------------
// PE layout, as far as the version resource needs it (all little-endian):
//
//   DOS header   "MZ" ... e_lfanew (u32 at 0x3C) -> "PE\0\0"
//   COFF header  20 bytes: NumberOfSections (u16 at +2), SizeOfOptionalHeader (u16 at +16)
//   optional     Magic 0x10B (PE32): NumberOfRvaAndSizes at +92, directories at +96
//                Magic 0x20B (PE32+): NumberOfRvaAndSizes at +108, directories at +112
//                directory 2 is the resource directory (RVA, size)
//   sections     40 bytes each: VirtualSize +8, VirtualAddress +12,
//                SizeOfRawData +16, PointerToRawData +20
//
// The resource tree has three levels (type, name, language). Each directory
// is 16 bytes with the named-entry count at +12 and the id-entry count at
// +14, followed by 8-byte entries (name or id, offset). An offset with the
// top bit set is a subdirectory, relative to the start of the resource
// section; otherwise it points at a data entry whose first field is an RVA.
// ---------------------------------------------------------------------------

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kVsVersionInfoId = 1;
// A version block's own length field is 16 bits wide.
constexpr uint32_t kMaxBlockSize = 0xFFFF;
// Windows tolerates a few thousand entries per directory at most in
// practice; a larger count marks a damaged file and would only cost time.
constexpr uint32_t kMaxDirEntries = 4096;

class PeFile {
 public:
  explicit PeFile(const std::string& path) : in_(path, std::ios::binary) {
    if (in_) {
      in_.seekg(0, std::ios::end);
      size_ = static_cast<uint64_t>(in_.tellg());
    }
  }
  bool ok() const { return static_cast<bool>(in_); }
  uint64_t size() const { return size_; }

  bool Read(uint64_t off, void* out, size_t n) {
    if (off > size_ || n > size_ - off) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(off));
    in_.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<size_t>(in_.gcount()) == n;
  }
  std::optional<uint16_t> U16(uint64_t off) {
    uint8_t b[2];
    if (!Read(off, b, 2)) return std::nullopt;
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  std::optional<uint32_t> U32(uint64_t off) {
    uint8_t b[4];
    if (!Read(off, b, 4)) return std::nullopt;
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }

 private:
  std::ifstream in_;
  uint64_t size_ = 0;
};

struct Section {
  uint32_t va = 0, vsize = 0, rawSize = 0, rawPtr = 0;
};

// File offset of an RVA, or nothing when no section's raw data holds it.
std::optional<uint64_t> RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint32_t len) {
  for (const auto& s : sections) {
    uint64_t span = std::max(s.vsize, s.rawSize);
    if (rva < s.va || rva - static_cast<uint64_t>(s.va) >= span) continue;
    uint64_t within = rva - static_cast<uint64_t>(s.va);
    // Bytes past SizeOfRawData exist only in memory (zero-filled), not in the file.
    if (within + len > s.rawSize) return std::nullopt;
    return static_cast<uint64_t>(s.rawPtr) + within;
  }
  return std::nullopt;
}

// The offset field of the entry with the given id, or of the first entry
// when id is empty; nothing when the directory has no such entry.
std::optional<uint32_t> FindEntry(PeFile& f, uint64_t dirOff, std::optional<uint32_t> id) {
  auto named = f.U16(dirOff + 12);
  auto ids = f.U16(dirOff + 14);
  if (!named || !ids) return std::nullopt;
  uint32_t total = static_cast<uint32_t>(*named) + *ids;
  if (total == 0 || total > kMaxDirEntries) return std::nullopt;
  for (uint32_t i = 0; i < total; ++i) {
    uint64_t e = dirOff + 16 + 8ull * i;
    auto name = f.U32(e);
    auto off = f.U32(e + 4);
    if (!name || !off) return std::nullopt;
    // Named entries come first and carry a string offset (top bit set), never an id.
    if (!id || (i >= *named && *name == *id)) return *off;
  }
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> VersionBlockOf(PeFile& f) {
  if (!f.ok()) return std::nullopt;
  uint8_t mz[2];
  if (!f.Read(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return std::nullopt;
  auto lfanew = f.U32(0x3C);
  if (!lfanew) return std::nullopt;
  uint8_t sig[4];
  if (!f.Read(*lfanew, sig, 4) || sig[0] != 'P' || sig[1] != 'E' || sig[2] != 0 || sig[3] != 0)
    return std::nullopt;
  uint64_t coff = static_cast<uint64_t>(*lfanew) + 4;
  auto nSections = f.U16(coff + 2);
  auto optSize = f.U16(coff + 16);
  if (!nSections || !optSize) return std::nullopt;
  uint64_t opt = coff + 20;
  auto magic = f.U16(opt);
  if (!magic) return std::nullopt;
  uint64_t countAt, dirsAt;
  if (*magic == 0x10B) {
    countAt = opt + 92;
    dirsAt = opt + 96;
  } else if (*magic == 0x20B) {
    countAt = opt + 108;
    dirsAt = opt + 112;
  } else {
    return std::nullopt;
  }
  auto nDirs = f.U32(countAt);
  if (!nDirs || *nDirs < 3 || dirsAt + 3 * 8 > opt + *optSize) return std::nullopt;
  auto rsrcRva = f.U32(dirsAt + 2 * 8);
  if (!rsrcRva || *rsrcRva == 0) return std::nullopt;

  std::vector<Section> sections;
  uint64_t secAt = opt + *optSize;
  for (uint32_t i = 0; i < *nSections; ++i) {
    uint64_t s = secAt + 40ull * i;
    auto vs = f.U32(s + 8), va = f.U32(s + 12), rs = f.U32(s + 16), rp = f.U32(s + 20);
    if (!vs || !va || !rs || !rp) return std::nullopt;
    sections.push_back({*va, *vs, *rs, *rp});
  }

  auto root = RvaToOffset(sections, *rsrcRva, 16);
  if (!root) return std::nullopt;
  // Subdirectory offsets are relative to the resource section's start.
  auto subdir = [&](uint32_t entryOff) -> std::optional<uint64_t> {
    if (!(entryOff & 0x80000000u)) return std::nullopt;
    uint64_t at = *root + (entryOff & 0x7FFFFFFFu);
    if (at + 16 > f.size()) return std::nullopt;
    return at;
  };

  auto typeEntry = FindEntry(f, *root, kRtVersion);
  if (!typeEntry) return std::nullopt;
  auto nameDir = subdir(*typeEntry);
  if (!nameDir) return std::nullopt;
  // The resource is VS_VERSION_INFO (id 1); other ids are taken only when it is absent.
  auto nameEntry = FindEntry(f, *nameDir, kVsVersionInfoId);
  if (!nameEntry) nameEntry = FindEntry(f, *nameDir, std::nullopt);
  if (!nameEntry) return std::nullopt;
  auto langDir = subdir(*nameEntry);
  if (!langDir) return std::nullopt;
  auto langEntry = FindEntry(f, *langDir, std::nullopt);
  if (!langEntry || (*langEntry & 0x80000000u)) return std::nullopt;

  uint64_t dataEntry = *root + *langEntry;
  auto dataRva = f.U32(dataEntry);
  auto dataSize = f.U32(dataEntry + 4);
  if (!dataRva || !dataSize || *dataSize == 0 || *dataSize > kMaxBlockSize) return std::nullopt;
  auto dataOff = RvaToOffset(sections, *dataRva, *dataSize);
  if (!dataOff) return std::nullopt;
  std::vector<uint8_t> block(*dataSize);
  if (!f.Read(*dataOff, block.data(), block.size())) return std::nullopt;
  return block;
}

std::u16string AsChars(const std::vector<uint8_t>& block) {
  std::u16string s(block.size() / 2, u'\0');
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char16_t>(block[2 * i] | (block[2 * i + 1] << 8));
  return s;
}

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The text from start up to the next NUL (or the end of the block).
std::u16string TextAt(const std::u16string& s, size_t start) {
  if (start >= s.size()) return {};
  size_t end = s.find(u'\0', start);
  return s.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
}

std::vector<std::string> SplitKeys() {
  std::vector<std::string> keys;
  std::string_view all = kFileVerKeys;
  size_t start = 0;
  while (true) {
    size_t semi = all.find(';', start);
    keys.emplace_back(all.substr(start, semi == std::string_view::npos ? std::string_view::npos : semi - start));
    if (semi == std::string_view::npos) break;
    start = semi + 1;
  }
  return keys;
}

// Fills result (which starts out as the bare key names) entry by entry, so a
// failure part-way leaves the entries done so far in place.
void FillEntries(const std::vector<uint8_t>& block, std::vector<std::string>& result) {
  const std::u16string s = AsChars(block);
  const size_t last = result.size() - 1;
  for (size_t i = 0; i < last; ++i) {
    const std::string& key = result[i];
    std::u16string pattern = u"\x01" + Widen(key);
    size_t at = s.find(pattern);
    if (at == std::u16string::npos) {
      result[i] = key + ": Not specified";
      continue;
    }
    size_t p = at + pattern.size();
    // Between key and value sit the key's NUL and at most one padding NUL
    // (values start on a 32-bit boundary).
    if (p + 1 < s.size() && s[p + 1] == u'\0')
      p += 2;
    else if (p < s.size() && s[p] == u'\0')
      p += 1;
    result[i] = key + ": " + Utf16ToUtf8(TextAt(s, p));
  }

  // The string table that follows "StringFileInfo" is keyed by eight hex
  // digits, language first: "041204b0" is Korean, Unicode.
  std::u16string sfi = u"\x01StringFileInfo";
  size_t at = s.find(sfi);
  if (at == std::u16string::npos) return;
  size_t table = s.find(u'\x01', at + sfi.size());
  std::string code = table == std::u16string::npos ? std::string() : Utf16ToUtf8(TextAt(s, table + 1));
  result[last] = result[last] + ": " + GetLanguageName(code);
}

struct Language {
  const char* code;
  const char* name;
};

// The names are the ones the console has always shown, spellings included.
constexpr std::array<Language, 116> kLanguages = {{
    {"0436", "Afrikaans"},
    {"041C", "Albanian"},
    {"3801", "Arabic - U.A.E."},
    {"3C01", "Arabic - Bahrain"},
    {"1401", "Arabic - Algeria"},
    {"0C01", "Arabic - Egypt"},
    {"0801", "Arabic - Iraq"},
    {"2C01", "Arabic - Jordan"},
    {"3401", "Arabic - Kuwait"},
    {"3001", "Arabic - Lebanon"},
    {"1001", "Arabic - Libya"},
    {"1801", "Arabic - Morocco"},
    {"2001", "Arabic - Oman"},
    {"4001", "Arabic - Qatar"},
    {"0401", "Arabic - Saudia Arabia"},
    {"2801", "Arabic - Syria"},
    {"1C01", "Arabic - Tunisia"},
    {"2401", "Arabic - Yemen"},
    {"042D", "Basque"},
    {"0423", "Belarusian"},
    {"0402", "Bulgarian"},
    {"0403", "Catalan"},
    {"0804", "Chinese - PRC"},
    {"0C04", "Chinese - Hong Kong S.A.R."},
    {"1004", "Chinese - Singapore"},
    {"0404", "Chinese - Taiwan"},
    {"041A", "Croatian"},
    {"0405", "Czech"},
    {"0406", "Danish"},
    {"0413", "Dutch"},
    {"0813", "Dutch - Belgium"},
    {"0C09", "English - Australia"},
    {"2809", "English - Belize"},
    {"1009", "English - Canada"},
    {"1809", "English - Ireland"},
    {"2009", "English - Jamaica"},
    {"1409", "English - New Zealand"},
    {"1C09", "English - South Africa"},
    {"2C09", "English - Trinidad"},
    {"0809", "English - United Kingdom"},
    {"0409", "English - United States"},
    {"0425", "Estonian"},
    {"0429", "Farsi"},
    {"040B", "Finnish"},
    {"0438", "Faeroese"},
    {"040C", "French - Standard"},
    {"080C", "French - Belgium"},
    {"0C0C", "French - Canada"},
    {"140C", "French - Luxembourg"},
    {"100C", "French - Switzerland"},
    {"043C", "Gaelic - Scotland"},
    {"0407", "German - Standard"},
    {"0C07", "German - Austrian"},
    {"1407", "German - Lichtenstein"},
    {"1007", "German - Luxembourg"},
    {"0807", "German - Switzerland"},
    {"0408", "Greek"},
    {"040D", "Hebrew"},
    {"0439", "Hindi"},
    {"040E", "Hungarian"},
    {"040F", "Icelandic"},
    {"0421", "Indonesian"},
    {"0410", "Italian - Standard"},
    {"0810", "Italian - Switzerland"},
    {"0411", "Japanese"},
    {"0412", "Korean"},
    {"0426", "Latvian"},
    {"0427", "Lithuanian"},
    {"042F", "Macedonian"},
    {"043E", "Malay - Malaysia"},
    {"043A", "Maltese"},
    {"0414", "Norwegian - Bokm책l"},
    {"0415", "Polish"},
    {"0816", "Portuguese - Standard"},
    {"0416", "Portuguese - Brazil"},
    {"0417", "Raeto-Romance"},
    {"0418", "Romanian"},
    {"0818", "Romanian - Moldova"},
    {"0419", "Russian"},
    {"0819", "Russian - Moldova"},
    {"0C1A", "Serbian - Cyrillic"},
    {"0432", "Setsuana"},
    {"0424", "Slovenian"},
    {"041B", "Slovak"},
    {"042E", "Sorbian"},
    {"040A", "Spanish - Standard"},
    {"2C0A", "Spanish - Argentina"},
    {"400A", "Spanish - Bolivia"},
    {"340A", "Spanish - Chile"},
    {"240A", "Spanish - Columbia"},
    {"140A", "Spanish - Costa Rica"},
    {"1C0A", "Spanish - Dominican Republic"},
    {"300A", "Spanish - Ecuador"},
    {"100A", "Spanish - Guatemala"},
    {"480A", "Spanish - Honduras"},
    {"080A", "Spanish - Mexico"},
    {"4C0A", "Spanish - Nicaragua"},
    {"180A", "Spanish - Panama"},
    {"280A", "Spanish - Peru"},
    {"500A", "Spanish - Puerto Rico"},
    {"3C0A", "Spanish - Paraguay"},
    {"440A", "Spanish - El Salvador"},
    {"380A", "Spanish - Uruguay"},
    {"200A", "Spanish - Venezuela"},
    {"0430", "Sutu"},
    {"041D", "Swedish"},
    {"081D", "Swedish - Finland"},
    {"041E", "Thai"},
    {"041F", "Turkish"},
    {"0431", "Tsonga"},
    {"0422", "Ukranian"},
    {"0420", "Urdu - Pakistan"},
    {"042A", "Vietnamese"},
    {"0434", "Xhosa"},
    {"043D", "Yiddish"},
    {"0435", "Zulu"},
}};

// The failures of the "FileVersion" text, numbered as the console always
// reported them.
[[noreturn]] void TypeMismatch() { throw BrenvoError(13, "Type mismatch"); }

}  // namespace


std::optional<std::vector<uint8_t>> ReadVersionBlock(const std::string& path) {
  PeFile f(path);
  return VersionBlockOf(f);
}

std::vector<std::string> ParseFileVer(const std::vector<uint8_t>& block) {
  std::vector<std::string> result = SplitKeys();
  FillEntries(block, result);
  return result;
}

std::vector<std::string> GetFileVer(const std::string& path, Prompter* prompter) {
  std::vector<std::string> result;
  try {
    auto block = ReadVersionBlock(path);
    if (!block) return {};
    result = SplitKeys();
    FillEntries(*block, result);
  } catch (...) {
    if (prompter) prompter->Message(TrapText(DescribeCurrentException(), "GetFileVer", "Module mdlFile"));
  }
  return result;
}

std::string GetLanguageName(std::string_view code) {
  std::string key(code.substr(0, 4));
  for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const auto& l : kLanguages)
    if (key == l.code) return l.name;
  return {};
}

std::string GetFileVerText(const std::string& path, bool withLast, bool silent, Prompter* prompter) {
  try {
    std::vector<std::string> entries = GetFileVer(path, prompter);
    if (entries.size() <= static_cast<size_t>(kFileVersionIndex)) TypeMismatch();
    const std::string& entry = entries[kFileVersionIndex];
    size_t blank = entry.find(' ');
    std::string version = blank == std::string::npos ? entry : entry.substr(blank + 1);
    size_t dot = version.rfind('.');
    if (!withLast) {
      if (dot == std::string::npos) throw BrenvoError(5, "Invalid procedure call or argument");
      return version.substr(0, dot);
    }
    std::string head = dot == std::string::npos ? std::string() : version.substr(0, dot + 1);
    std::string tail = dot == std::string::npos ? version : version.substr(dot + 1);
    // The last part must be a whole number, blanks around it allowed.
    size_t b = tail.find_first_not_of(' ');
    size_t e = tail.find_last_not_of(' ');
    if (b == std::string::npos) TypeMismatch();
    tail = tail.substr(b, e - b + 1);
    if (!std::all_of(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; })) TypeMismatch();
    size_t nz = tail.find_first_not_of('0');
    std::string digits = nz == std::string::npos ? "0" : tail.substr(nz);
    if (digits.size() > 10 || std::stoll(digits) > 2147483647LL) throw BrenvoError(6, "Overflow");
    return head + digits;
  } catch (...) {
    if (!silent && prompter)
      prompter->Message(TrapText(DescribeCurrentException(), "GetFileVer", "Module mdlFile"));
    return {};
  }
}

}  // namespace brenvo
