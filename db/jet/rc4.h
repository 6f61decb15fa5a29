// RC4, the stream cipher Jet 4 uses to hide the header region of page 0 and,
// in an encrypted database, the content of every other page. Both directions
// are the same XOR with the key stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brenvo::jet {

void Rc4Xor(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len);

}  // namespace brenvo::jet
