// Decoder of ZIP method 8 on ISA-L: raw deflate through isal_inflate, from
// the input buffer straight into the output buffer, about twice as fast as
// zlib, with zlib's results.
//
// On intact data both libraries produce the same bytes. On damaged data they
// stop at slightly different places (ISA-L decodes a few symbols past some
// errors, and leaves the last symbol before a cut undecoded), so when ISA-L
// reports an error, or the input ends inside the deflate data, the source is
// rewound and zlib decodes it again from the start; what was delivered
// already is skipped and zlib's remainder delivered. A source that cannot be
// rewound ends the data there. Owns the inflate state (large, so on the heap)
// and, only after such a failure, the zlib decoder.
#pragma once

#include <isa-l/igzip_lib.h>

#include <cstdint>
#include <memory>

#include "zip/methods/decoder_base.h"
#include "zip/methods/deflate_decoder_properties.h"
#include "zip/methods/zlib_deflate_decoder.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_isal_deflate_decoder : public basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_>;

 public:
  using istream_type = typename base::istream_type;

  basic_isal_deflate_decoder() = default;
  basic_isal_deflate_decoder(const basic_isal_deflate_decoder&) = delete;
  basic_isal_deflate_decoder& operator=(const basic_isal_deflate_decoder&) = delete;

  void init(istream_type& stream) override {
    deflate_decoder_properties props;
    init(stream, props);
  }

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    props.normalize();
    this->allocate_buffers(stream, props.BufferCapacity);
    _props.BufferCapacity = props.BufferCapacity;
    _state = std::make_unique<inflate_state>();
    isal_inflate_init(_state.get());
    _state->crc_flag = ISAL_DEFLATE;  // raw deflate, no checksum
    _state->hist_bits = 0;            // the full 32 KiB window
    _state->next_in = nullptr;
    _state->avail_in = 0;
    _state->next_out = nullptr;
    _state->avail_out = UINT32_MAX;  // so that the first step reads input
    _failed = false;
    _finished = false;
    _zlib.reset();
  }

  size_t decode_next() override {
    this->set_produced(0);
    if (_zlib != nullptr) return replay_next();
    if (_failed) return 0;
    for (;;) {
      if (_state->avail_out != 0) {
        // The previous step used up its input (or found the end).
        if (this->_endOfInput) return _finished ? 0 : start_replay();
        // Input left over with output space to spare: ISA-L cannot go on,
        // so zlib decides where the data ends.
        if (_state->avail_in != 0) return start_replay();
        const size_t count = this->read_input();
        if (count < this->_bufferCapacity) this->_endOfInput = true;
        _state->next_in = reinterpret_cast<uint8_t*>(this->_inputBuffer.get());
        _state->avail_in = static_cast<uint32_t>(count);
      }
      _state->next_out = reinterpret_cast<uint8_t*>(this->_outputBuffer.get());
      _state->avail_out = static_cast<uint32_t>(this->_bufferCapacity);
      const int result = isal_inflate(_state.get());
      if (result < 0) return start_replay();
      const size_t produced = this->_bufferCapacity - _state->avail_out;
      this->set_produced(produced);
      _finished = _state->block_state == ISAL_BLOCK_FINISH;
      if (_finished) this->_endOfInput = true;
      if (produced != 0) return produced;
      if (_finished) return 0;
    }
  }

 private:
  // Restarts the data with zlib, to end it where zlib ends it.
  size_t start_replay() {
    _failed = true;
    istream_type& source = *this->_stream;
    source.clear();
    if (!source.seekg(0)) return 0;
    _toSkip = this->get_bytes_written();
    _zlib = std::make_unique<basic_zlib_deflate_decoder<ELEM_TYPE_, TRAITS_TYPE_>>();
    _zlib->init(source, _props);
    return replay_next();
  }

  // zlib's next output past what was delivered, copied into this decoder's
  // output buffer (which the stream reads).
  size_t replay_next() {
    for (;;) {
      const size_t count = _zlib->decode_next();
      if (count == 0) return 0;
      if (count <= _toSkip) {
        _toSkip -= count;
        continue;
      }
      const size_t fresh = count - _toSkip;
      TRAITS_TYPE_::copy(this->_outputBuffer.get(), _zlib->get_buffer_begin() + _toSkip, fresh);
      _toSkip = 0;
      this->set_produced(fresh);
      return fresh;
    }
  }

  std::unique_ptr<inflate_state> _state;
  bool _failed = false;
  bool _finished = false;
  deflate_decoder_properties _props;
  std::unique_ptr<basic_zlib_deflate_decoder<ELEM_TYPE_, TRAITS_TYPE_>> _zlib;
  size_t _toSkip = 0;
};

using isal_deflate_decoder = basic_isal_deflate_decoder<char, std::char_traits<char>>;
