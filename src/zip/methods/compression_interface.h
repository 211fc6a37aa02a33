// The decoder side of a compression method: properties and the decoder
// interface that the decoder stream buffer drives.
//
// A decoder reads compressed bytes from a source stream into its input
// buffer and decodes them straight into its output buffer, which the stream
// buffer above hands to the reader as its get area. Both buffers are
// allocated once, by init. Failure: decode_next returns 0 (no more data) on
// end of input, end of the compressed data or a library error; nothing throws
// except allocation failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <limits>

struct compression_decoder_properties_interface {
  virtual ~compression_decoder_properties_interface() = default;

  static constexpr size_t DefaultBufferCapacity = 1 << 15;
  static constexpr uint64_t UnknownSize = std::numeric_limits<uint64_t>::max();

  size_t BufferCapacity = DefaultBufferCapacity;
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class compression_decoder_interface_basic {
 public:
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;

  virtual ~compression_decoder_interface_basic() = default;

  // Both buffers exist.
  virtual bool is_init() const = 0;
  // Total bytes taken from the source.
  virtual size_t get_bytes_read() const = 0;
  // Total bytes produced.
  virtual size_t get_bytes_written() const = 0;
  // Start of the output buffer.
  virtual ELEM_TYPE_* get_buffer_begin() = 0;
  // Start of the output buffer + bytes produced by the last step.
  virtual ELEM_TYPE_* get_buffer_end() = 0;
  // Binds the source, allocates the buffers and starts the library.
  virtual void init(istream_type& stream, compression_decoder_properties_interface& props) = 0;
  // One decoding step: the number of bytes now in the output buffer, 0 when
  // no more data comes.
  virtual size_t decode_next() = 0;
};

using compression_decoder_interface = compression_decoder_interface_basic<char, std::char_traits<char>>;
