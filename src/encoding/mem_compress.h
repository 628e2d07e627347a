/* In-memory gzip frames: one gzip member holding a raw deflate stream.
 *
 * mem_compress writes the frame 1F 8B 08 00 00000000 00 0B, the deflate data,
 * then the CRC-32 and the length (mod 2^32) of the source, least significant
 * byte first. mem_uncompress reads one such member; it also accepts the
 * optional header fields a gzip tool may write (extra field, file name,
 * comment, header CRC), and refuses anything followed by extra bytes. The
 * trailer's length must equal the inflated length exactly: a frame that
 * inflates to more or fewer bytes than it declares, or that declares more
 * than deflate can make of its size (1032 bytes per byte), is not a correct
 * frame.
 *
 * Capacity protocol: *dst_len holds the capacity of dst on entry and the full
 * result length on return. When the result does not fit, Z_BUF_ERROR (-5) is
 * returned, *dst_len holds the size needed and dst holds those 16 KiB pieces
 * of the result (and, for mem_compress, the header and trailer bytes) that lie
 * wholly within the capacity; nothing is ever written outside
 * [dst, dst + capacity). A null dst or a negative capacity counts as
 * capacity 0.
 *
 * Bounded work: mem_uncompress never inflates more than the smaller of the
 * declared length and the capacity, plus one 16 KiB block. Once the output
 * passes the capacity it stops and reports the declared length as the size
 * needed; the deflate data past that point and the CRC are checked by the
 * call made with room for the whole result.
 *
 * Statuses (zlib's codes): 0 (Z_OK) the result fitted; -5 (Z_BUF_ERROR) it
 * did not; -3 (Z_DATA_ERROR) no source, a source length of 0 or less (for
 * mem_uncompress 18 or less), a null dst_len, or input that is not a
 * complete, correct frame; -4 (Z_MEM_ERROR) a work buffer could not be
 * allocated, or the result would be (for mem_uncompress: is declared to be)
 * longer than an int can hold; any other error of the deflate or inflate
 * initialisation is returned unchanged.
 */
#ifndef QUILLMARK_ENCODING_MEM_COMPRESS_H_
#define QUILLMARK_ENCODING_MEM_COMPRESS_H_

#if defined(__GNUC__)
#define QUILLMARK_MEM_EXPORT __attribute__((visibility("default")))
#else
#define QUILLMARK_MEM_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

QUILLMARK_MEM_EXPORT int mem_compress(const unsigned char* src, int src_len, unsigned char* dst,
                                      int* dst_len);
QUILLMARK_MEM_EXPORT int mem_uncompress(const unsigned char* src, int src_len, unsigned char* dst,
                                        int* dst_len);

#ifdef __cplusplus
}
#endif

#endif /* QUILLMARK_ENCODING_MEM_COMPRESS_H_ */
