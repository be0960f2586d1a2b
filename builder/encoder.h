// Encoder of the package's compressed stream format (the decoder's inverse).
// Compression itself is Deflate (libdeflate, or zlib where libdeflate is not
// available); its raw output is transcoded into this format's block framing.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace pakwiz {

// Highest level accepted; 0 means stored blocks only.
int max_compression_level();
int default_compression_level();

// Encodes `size` bytes into one stream. At level 0, or when compression does
// not shrink the data, the stream is made of stored blocks: 3 bytes of
// framing per block of up to 65,535 bytes.
std::vector<uint8_t> encode_stream(const uint8_t* data, size_t size, int level);

} // namespace pakwiz
