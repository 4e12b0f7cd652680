#pragma once
// The LZFSE / LZVN codec: buffer-to-buffer encoders and decoders.
//
// Every function returns a byte count; 0 means failure (malformed input, or
// output that does not fit). The functions keep no state between calls. A
// work area ("scratch") may be passed to avoid an allocation per call; with a
// null pointer the function allocates its own and releases it before
// returning (an allocation failure gives 0).

#include <cstddef>
#include <cstdint>

extern "C" {

// Size in bytes of the work area lzfse_encode_buffer and lzvn_encode_buffer
// accept. The area needs no particular alignment and no initial contents.
size_t lzfse_encode_scratch_size(void);

// Encodes src into an LZFSE stream in dst: a raw block for inputs under 8
// bytes, an LZVN block for 8..4095 bytes when it is smaller than the input,
// LZFSE blocks from 4096 bytes on; a raw block whenever the compressed form
// does not fit. Returns the stream length, or 0 when nothing fits in dst_size
// (always the case for inputs under 12 bytes with a room of twice the input).
size_t lzfse_encode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                           void* scratch);

// Size in bytes of the work area lzfse_decode_buffer accepts.
size_t lzfse_decode_scratch_size(void);

// Decodes the LZFSE stream in src (any mix of raw, LZVN, LZFSE v1/v2 blocks,
// ended by the end-of-stream block; bytes after it are ignored). Returns the
// number of bytes written; 0 for malformed or incomplete input (and for a
// valid stream of 0 bytes). When the output is larger than dst_size, the
// first dst_size bytes are written and dst_size is returned.
size_t lzfse_decode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                           void* scratch);

// Encodes src as a raw LZVN stream (no block header) ending in the LZVN
// end-of-stream opcode. Returns its length, or 0 when dst_size is under 8 or
// the stream does not fit. `work` is null or lzfse_encode_scratch_size() bytes.
size_t lzvn_encode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size,
                          void* work);

// Decodes a raw LZVN stream. Returns the number of bytes decoded; 0 when the
// stream does not reach its end-of-stream opcode (malformed, truncated, or the
// output does not fit), or when src_size or dst_size is 7 or less. Bytes after
// the end-of-stream opcode are ignored.
size_t lzvn_decode_buffer(uint8_t* dst, size_t dst_size, const uint8_t* src, size_t src_size);

}  // extern "C"
