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

#include "zip/methods/decoder_base.h"

struct bzip2_decoder_properties : compression_decoder_properties_interface {
  void normalize() override {}
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_bzip2_decoder : public basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_>;

 public:
  using istream_type = typename base::istream_type;

  basic_bzip2_decoder() = default;
  basic_bzip2_decoder(const basic_bzip2_decoder&) = delete;
  basic_bzip2_decoder& operator=(const basic_bzip2_decoder&) = delete;

  ~basic_bzip2_decoder() override {
    if (_started) BZ2_bzDecompressEnd(&_bzstream);
  }

  void init(istream_type& stream) override {
    bzip2_decoder_properties props;
    init(stream, props);
  }

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    props.normalize();
    this->allocate_buffers(stream, props.BufferCapacity);
    _bzstream = bz_stream{};
    _bzstream.next_in = nullptr;
    _bzstream.avail_in = 0;
    _bzstream.next_out = nullptr;
    _bzstream.avail_out = UINT_MAX;  // so that the first step reads input
    _bzstream.bzalloc = nullptr;
    _bzstream.bzfree = nullptr;
    _bzstream.opaque = nullptr;
    _lastError = BZ2_bzDecompressInit(&_bzstream, 0, 0);
    _started = _lastError == BZ_OK;
    _failed = !_started;
  }

  size_t decode_next() override {
    this->set_produced(0);
    if (_failed) return 0;
    for (;;) {
      if (_bzstream.avail_out != 0) {
        if (this->_endOfInput) return 0;
        const size_t count = this->read_input();
        if (count < this->_bufferCapacity) this->_endOfInput = true;
        _bzstream.next_in = this->_inputBuffer.get();
        _bzstream.avail_in = static_cast<unsigned int>(count);
      }
      _bzstream.next_out = this->_outputBuffer.get();
      _bzstream.avail_out = static_cast<unsigned int>(this->_bufferCapacity);
      _lastError = BZ2_bzDecompress(&_bzstream);
      const size_t produced = this->_bufferCapacity - _bzstream.avail_out;
      this->set_produced(produced);
      if (_lastError < 0) {
        _failed = true;
        return produced;
      }
      if (_lastError == BZ_STREAM_END) {
        // Nothing follows the end of the stream; a later step ends at once.
        _failed = true;
        return produced;
      }
      if (produced != 0) return produced;
    }
  }


 private:
  bz_stream _bzstream{};
  int _lastError = BZ_OK;
  bool _started = false;
  bool _failed = false;
};

using bzip2_decoder = basic_bzip2_decoder<char, std::char_traits<char>>;
