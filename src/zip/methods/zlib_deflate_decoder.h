// Decoder of ZIP method 8 on zlib: raw deflate (no zlib or gzip wrapper)
// through inflate, from the input buffer straight into the output buffer.
//
// Owns the z_stream (inflateEnd on destruction). Ends at the end of the
// deflate data, at the end of input, or at the first zlib error; output
// produced before an error is still delivered.
#pragma once

#include <zlib.h>

#include <climits>

#include "zip/methods/decoder_base.h"
#include "zip/methods/deflate_decoder_properties.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_zlib_deflate_decoder : public basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_>;

 public:
  using istream_type = typename base::istream_type;

  basic_zlib_deflate_decoder() = default;
  basic_zlib_deflate_decoder(const basic_zlib_deflate_decoder&) = delete;
  basic_zlib_deflate_decoder& operator=(const basic_zlib_deflate_decoder&) = delete;

  ~basic_zlib_deflate_decoder() override {
    if (_started) inflateEnd(&_zstream);
  }

  void init(istream_type& stream) override {
    deflate_decoder_properties props;
    init(stream, props);
  }

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    props.normalize();
    this->allocate_buffers(stream, props.BufferCapacity);
    _zstream = z_stream{};
    _zstream.next_in = nullptr;
    _zstream.avail_in = 0;
    _zstream.next_out = nullptr;
    _zstream.avail_out = UINT_MAX;  // so that the first step reads input
    _zstream.zalloc = nullptr;
    _zstream.zfree = nullptr;
    _zstream.opaque = nullptr;
    // Window bits -15: raw deflate with a 32 KiB window.
    _lastError = inflateInit2(&_zstream, -MAX_WBITS);
    _started = _lastError == Z_OK;
    _failed = !_started;
  }

  size_t decode_next() override {
    this->set_produced(0);
    if (_failed) return 0;
    for (;;) {
      if (_zstream.avail_out != 0) {
        // The previous step used up its input.
        if (this->_endOfInput) return 0;
        const size_t count = this->read_input();
        if (count < this->_bufferCapacity) this->_endOfInput = true;
        _zstream.next_in = reinterpret_cast<Bytef*>(this->_inputBuffer.get());
        _zstream.avail_in = static_cast<uInt>(count);
      }
      _zstream.next_out = reinterpret_cast<Bytef*>(this->_outputBuffer.get());
      _zstream.avail_out = static_cast<uInt>(this->_bufferCapacity);
      _lastError = inflate(&_zstream, Z_NO_FLUSH);
      const size_t produced = this->_bufferCapacity - _zstream.avail_out;
      if (_lastError < 0 && _lastError != Z_BUF_ERROR) {
        // Corrupt data: deliver what came before the error, then end.
        _failed = true;
        this->set_produced(produced);
        return produced;
      }
      this->set_produced(produced);
      if (_lastError == Z_STREAM_END) this->_endOfInput = true;
      if (produced != 0) return produced;
      if (_lastError == Z_STREAM_END) return 0;
    }
  }


 private:
  z_stream _zstream{};
  int _lastError = Z_OK;
  bool _started = false;
  bool _failed = false;
};

using zlib_deflate_decoder = basic_zlib_deflate_decoder<char, std::char_traits<char>>;
