#include "update/pe_builder.h"

#include <cstring>

namespace brenvo::test {
namespace {

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    int n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
    else { cp = c & 0x07; n = 4; }
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
void Set16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
void Align(std::vector<uint8_t>& b, size_t to) {
  while (b.size() % to) b.push_back(0);
}
void PutText(std::vector<uint8_t>& b, const std::u16string& s) {
  for (char16_t c : s) Put16(b, c);
  Put16(b, 0);
}

// One node of the version tree: header, key, padding, value, padding, children.
struct Node {
  std::string key;
  uint16_t type = 1;
  std::vector<uint8_t> value;
  uint16_t valueLength = 0;  // in words for text values, in bytes for binary ones
  std::vector<Node> children;
};

void Emit(std::vector<uint8_t>& out, const Node& n) {
  Align(out, 4);
  size_t start = out.size();
  Put16(out, 0);
  Put16(out, n.valueLength);
  Put16(out, n.type);
  PutText(out, Utf8ToUtf16(n.key));
  Align(out, 4);
  out.insert(out.end(), n.value.begin(), n.value.end());
  for (const auto& c : n.children) Emit(out, c);
  Set16(out, start, static_cast<uint16_t>(out.size() - start));
}

}  // namespace

std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info) {
  Node root{"VS_VERSION_INFO", 0, {}, 52, {}};
  // VS_FIXEDFILEINFO: signature, struct version, then zeros are enough here.
  Put32(root.value, 0xFEEF04BD);
  Put32(root.value, 0x00010000);
  root.value.resize(52, 0);

  if (info.withStringFileInfo) {
    Node table{info.tableKey, 1, {}, 0, {}};
    for (const auto& [k, v] : info.strings) {
      Node s{k, 1, {}, 0, {}};
      std::u16string w = Utf8ToUtf16(v);
      PutText(s.value, w);
      s.valueLength = static_cast<uint16_t>(w.size() + 1);
      table.children.push_back(std::move(s));
    }
    root.children.push_back(Node{"StringFileInfo", 1, {}, 0, {table}});
  }
  Node var{"Translation", 0, {}, 4, {}};
  Put16(var.value, 0x0412);
  Put16(var.value, 1200);
  root.children.push_back(Node{"VarFileInfo", 1, {}, 0, {var}});

  std::vector<uint8_t> out;
  Emit(out, root);
  return out;
}

std::vector<uint8_t> BuildPe(const std::vector<uint8_t>& block, const PeOptions& opt) {
  constexpr uint32_t kRsrcRva = 0x1000, kRawPtr = 0x200;

  // Resource section: type -> name -> language -> data entry -> data.
  std::vector<uint8_t> rsrc;
  auto dir = [&](uint32_t id, uint32_t target) {
    Put32(rsrc, 0);
    Put32(rsrc, 0);
    Put16(rsrc, 0);
    Put16(rsrc, 0);
    Put16(rsrc, 0);  // named entries
    Put16(rsrc, 1);  // id entries
    Put32(rsrc, id);
    Put32(rsrc, target);
  };
  dir(opt.withResource ? 16 : 3, 0x80000000u | 0x18);
  dir(1, 0x80000000u | 0x30);
  dir(0x0412, 0x48);
  size_t entry = rsrc.size();
  Put32(rsrc, 0);
  Put32(rsrc, static_cast<uint32_t>(block.size()));
  Put32(rsrc, 0);
  Put32(rsrc, 0);
  Align(rsrc, 8);
  Set32(rsrc, entry, kRsrcRva + static_cast<uint32_t>(rsrc.size()));
  rsrc.insert(rsrc.end(), block.begin(), block.end());
  uint32_t virtualSize = static_cast<uint32_t>(rsrc.size());
  Align(rsrc, 0x200);

  std::vector<uint8_t> pe(0x40, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  Set32(pe, 0x3C, 0x40);
  Put32(pe, 0x00004550);  // "PE\0\0"
  const uint16_t optSize = opt.pe32plus ? 240 : 224;
  Put16(pe, opt.pe32plus ? 0x8664 : 0x014C);
  Put16(pe, 1);
  Put32(pe, 0);
  Put32(pe, 0);
  Put32(pe, 0);
  Put16(pe, optSize);
  Put16(pe, opt.pe32plus ? 0x0022 : 0x0102);

  size_t optAt = pe.size();
  pe.resize(optAt + optSize, 0);
  Set16(pe, optAt, opt.pe32plus ? 0x20B : 0x10B);
  Set32(pe, optAt + 32, 0x1000);  // section alignment
  Set32(pe, optAt + 36, 0x200);   // file alignment
  Set32(pe, optAt + 56, kRsrcRva + 0x1000);  // size of image
  Set32(pe, optAt + 60, kRawPtr);            // size of headers
  size_t countAt = optAt + (opt.pe32plus ? 108 : 92);
  Set32(pe, countAt, 16);
  if (opt.withResourceDirectory) {
    Set32(pe, countAt + 4 + 2 * 8, kRsrcRva);
    Set32(pe, countAt + 4 + 2 * 8 + 4, virtualSize);
  }

  size_t sec = pe.size();
  pe.resize(sec + 40, 0);
  std::memcpy(&pe[sec], ".rsrc", 5);
  Set32(pe, sec + 8, virtualSize);
  Set32(pe, sec + 12, kRsrcRva);
  Set32(pe, sec + 16, static_cast<uint32_t>(rsrc.size()));
  Set32(pe, sec + 20, kRawPtr);
  Set32(pe, sec + 36, 0x40000040);

  pe.resize(kRawPtr, 0);
  pe.insert(pe.end(), rsrc.begin(), rsrc.end());
  return pe;
}

std::vector<uint8_t> PeWithFileVersion(const std::string& version) {
  VersionInfo info;
  info.strings = {{"CompanyName", "Karvo"}, {"FileVersion", version}, {"ProductName", "Strovant"}};
  return BuildPe(BuildVersionBlock(info));
}

}  // namespace brenvo::test
