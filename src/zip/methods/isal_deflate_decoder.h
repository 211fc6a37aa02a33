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

#include "zip/methods/codec_decoder.h"
#include "zip/methods/deflate_decoder_properties.h"
#include "zip/methods/zlib_deflate_decoder.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_isal_deflate_decoder : public basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_>;
  using step_state = typename base::step_state;

 public:
  using istream_type = typename base::istream_type;

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    this->allocate_buffers(stream, props);
    _props.BufferCapacity = props.BufferCapacity;
    // isal_inflate_init sets up an uninitialised state: clearing its 80-odd
    // KiB first would cost more than decoding a small entry.
    _state = std::unique_ptr<inflate_state>(new inflate_state);
    isal_inflate_init(_state.get());
    _state->crc_flag = ISAL_DEFLATE;  // raw deflate, no checksum
    _state->hist_bits = 0;            // the full 32 KiB window
    _state->next_in = nullptr;
    _state->avail_in = 0;
    _state->next_out = nullptr;
    _state->avail_out = UINT32_MAX;  // not full, so that the first step reads input
    this->_ended = false;
    _zlib.reset();
  }

 protected:
  bool output_full() const override { return _state->avail_out == 0; }
  // Input left over with output space to spare: ISA-L cannot go on.
  bool input_left() const override { return _state->avail_in != 0; }

  void set_input(ELEM_TYPE_* input, size_t count) override {
    _state->next_in = reinterpret_cast<uint8_t*>(input);
    _state->avail_in = static_cast<uint32_t>(count);
  }

  step_state step(ELEM_TYPE_* output, size_t capacity, size_t& produced) override {
    _state->next_out = reinterpret_cast<uint8_t*>(output);
    _state->avail_out = static_cast<uint32_t>(capacity);
    if (isal_inflate(_state.get()) < 0) return step_state::failed;
    produced = capacity - _state->avail_out;
    return _state->block_state == ISAL_BLOCK_FINISH ? step_state::finished : step_state::running;
  }

  // Where ISA-L fails or the input ends inside the data, zlib decides where
  // the data ends.
  size_t after_end() override { return _zlib != nullptr ? replay_next() : 0; }
  size_t end_early() override { return start_replay(); }
  size_t fail(size_t) override { return start_replay(); }

 private:
  // Restarts the data with zlib, to end it where zlib ends it.
  size_t start_replay() {
    this->_ended = true;
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
  deflate_decoder_properties _props;
  std::unique_ptr<basic_zlib_deflate_decoder<ELEM_TYPE_, TRAITS_TYPE_>> _zlib;
  size_t _toSkip = 0;
};

using isal_deflate_decoder = basic_isal_deflate_decoder<char, std::char_traits<char>>;
