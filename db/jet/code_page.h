// Text of Jet 3 files: every Text and Memo value, every table, column and
// index name is stored as bytes in the code page the header names (offset
// 0x3C: 1252 Western European, 949 Korean, 932 Japanese, ...), the ANSI code
// page of the machine that created the file. Values are turned into UTF-8
// with iconv here, once, where they are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace brenvo::jet {

class CodePage {
 public:
  // Throws a BrenvoError naming the code page when the system has no
  // converter for it.
  explicit CodePage(uint16_t number);
  ~CodePage();
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  uint16_t Number() const { return number_; }
  // Appends the UTF-8 form of the bytes to out. A byte sequence the code
  // page does not define becomes U+FFFD and the reading goes on after it.
  void Decode(const uint8_t* p, size_t len, std::string& out) const;

 private:
  uint16_t number_;
  void* cd_;  // iconv_t
  // iconv keeps state between calls; one conversion at a time.
  mutable std::mutex mu_;
};

}  // namespace brenvo::jet
