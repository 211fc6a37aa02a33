// Decoder of ZIP method 8 on zlib: raw deflate (no zlib or gzip wrapper)
// through inflate, from the input buffer straight into the output buffer.
//
// Owns the z_stream (inflateEnd on destruction). Ends at the end of the
// deflate data, at the end of input, or at the first zlib error; output
// produced before an error is still delivered.
#pragma once

#include <zlib.h>

#include <climits>

#include "zip/methods/codec_decoder.h"
#include "zip/methods/deflate_decoder_properties.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_zlib_deflate_decoder : public basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_>;
  using step_state = typename base::step_state;

 public:
  using istream_type = typename base::istream_type;

  ~basic_zlib_deflate_decoder() override {
    if (_started) inflateEnd(&_zstream);
  }

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    this->allocate_buffers(stream, props);
    _zstream = z_stream{};
    _zstream.avail_out = UINT_MAX;  // not full, so that the first step reads input
    // Window bits -15: raw deflate with a 32 KiB window.
    _started = inflateInit2(&_zstream, -MAX_WBITS) == Z_OK;
    this->_ended = !_started;
  }

 protected:
  bool output_full() const override { return _zstream.avail_out == 0; }
  bool input_left() const override { return _zstream.avail_in != 0; }

  void set_input(ELEM_TYPE_* input, size_t count) override {
    _zstream.next_in = reinterpret_cast<Bytef*>(input);
    _zstream.avail_in = static_cast<uInt>(count);
  }

  step_state step(ELEM_TYPE_* output, size_t capacity, size_t& produced) override {
    _zstream.next_out = reinterpret_cast<Bytef*>(output);
    _zstream.avail_out = static_cast<uInt>(capacity);
    const int result = inflate(&_zstream, Z_NO_FLUSH);
    produced = capacity - _zstream.avail_out;
    if (result == Z_STREAM_END) return step_state::finished;
    // Z_BUF_ERROR only says that this step could not go on.
    if (result < 0 && result != Z_BUF_ERROR) return step_state::failed;
    return step_state::running;
  }

 private:
  z_stream _zstream{};
  bool _started = false;
};

using zlib_deflate_decoder = basic_zlib_deflate_decoder<char, std::char_traits<char>>;
