// Decoder of ZIP method 12: bzip2 through libbz2, from the input buffer
// straight into the output buffer.
//
// Owns the bz_stream (BZ2_bzDecompressEnd on destruction). A bzip2 block
// yields output only once it has been read whole, so a step may consume
// several input buffers before it produces anything. Ends at the end of the
// bzip2 stream, at the end of input, or at the first library error; output
// produced before an error is still delivered.
#pragma once

#include <bzlib.h>

#include <climits>

#include "zip/methods/codec_decoder.h"

struct bzip2_decoder_properties : compression_decoder_properties_interface {};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_bzip2_decoder : public basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_>;
  using step_state = typename base::step_state;

 public:
  using istream_type = typename base::istream_type;

  ~basic_bzip2_decoder() override {
    if (_started) BZ2_bzDecompressEnd(&_bzstream);
  }

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    this->allocate_buffers(stream, props);
    _bzstream = bz_stream{};
    _bzstream.avail_out = UINT_MAX;  // not full, so that the first step reads input
    _started = BZ2_bzDecompressInit(&_bzstream, 0, 0) == BZ_OK;
    this->_ended = !_started;
  }

 protected:
  bool output_full() const override { return _bzstream.avail_out == 0; }
  bool input_left() const override { return _bzstream.avail_in != 0; }

  void set_input(ELEM_TYPE_* input, size_t count) override {
    _bzstream.next_in = input;
    _bzstream.avail_in = static_cast<unsigned int>(count);
  }

  step_state step(ELEM_TYPE_* output, size_t capacity, size_t& produced) override {
    _bzstream.next_out = output;
    _bzstream.avail_out = static_cast<unsigned int>(capacity);
    const int result = BZ2_bzDecompress(&_bzstream);
    produced = capacity - _bzstream.avail_out;
    if (result < 0) return step_state::failed;
    // Nothing follows the end of the stream.
    return result == BZ_STREAM_END ? step_state::finished : step_state::running;
  }

 private:
  bz_stream _bzstream{};
  bool _started = false;
};

using bzip2_decoder = basic_bzip2_decoder<char, std::char_traits<char>>;
