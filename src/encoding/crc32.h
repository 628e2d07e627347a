// CRC-32 as gzip and zlib define it: reflected polynomial 0xEDB88320, initial
// value and final complement 0xFFFFFFFF.
//
// Crc32Update continues a running value exactly as zlib's crc32() does (start
// from 0, feed the data in any number of pieces). Where the processor offers
// carry-less multiplication the bulk of the data is folded with it, which is
// several times faster than the table method; the values are the same.
#ifndef QUILLMARK_ENCODING_CRC32_H_
#define QUILLMARK_ENCODING_CRC32_H_

#include <cstdint>

#include "common/bytes.h"

namespace quillmark::encoding {

std::uint32_t Crc32Update(std::uint32_t crc, ByteSpan data);

// True when Crc32Update uses the carry-less multiply path on this machine.
bool Crc32IsAccelerated();

}  // namespace quillmark::encoding

#endif  // QUILLMARK_ENCODING_CRC32_H_
