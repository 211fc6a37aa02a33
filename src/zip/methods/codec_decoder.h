// The decode loop shared by the decoders that drive a library one call at a
// time (deflate on zlib or ISA-L, bzip2, LZMA): the library is the codec,
// and a decoder only says how to hand it input and how to run one step.
//
// The loop reads a full input buffer whenever the last step stopped with
// room left in the output buffer (it used up its input), runs steps until
// one produces output, and ends at the codec's end, at the end of input or
// when the codec fails, delivering what came before a failure. A decoder
// can take over those ends (ISA-L hands damaged data to zlib). Nothing
// throws except allocation failure.
#pragma once

#include <cstddef>

#include "zip/methods/decoder_base.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_codec_decoder : public basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  size_t decode_next() override {
    this->set_produced(0);
    if (_ended) return after_end();
    for (;;) {
      if (!output_full()) {
        // Input used up, or input left that the codec cannot go on with.
        if (this->_endOfInput || input_left()) return end_early();
        const size_t count = this->read_input();
        if (count < this->_bufferCapacity) this->_endOfInput = true;
        set_input(this->_inputBuffer.get(), count);
      }
      size_t produced = 0;
      const step_state state = step(this->_outputBuffer.get(), this->_bufferCapacity, produced);
      if (state == step_state::failed) return fail(produced);
      this->set_produced(produced);
      if (state == step_state::finished) {
        _ended = true;
        return produced;
      }
      if (produced != 0) return produced;
    }
  }

 protected:
  enum class step_state { running, finished, failed };

  // The codec's hooks. Until the first step the output counts as not full,
  // so that the first step reads input.
  virtual bool output_full() const = 0;
  virtual bool input_left() const = 0;
  virtual void set_input(ELEM_TYPE_* input, size_t count) = 0;
  // Decodes into `output` (room for `capacity`), setting `produced`.
  virtual step_state step(ELEM_TYPE_* output, size_t capacity, size_t& produced) = 0;

  // The ends, which a decoder may take over: after the end, at the end of
  // input before the codec's own end, and when a step failed.
  virtual size_t after_end() { return 0; }
  virtual size_t end_early() {
    _ended = true;
    return 0;
  }
  virtual size_t fail(size_t produced) {
    _ended = true;
    this->set_produced(produced);
    return produced;
  }

  // No more data comes: set by a codec that cannot start, cleared by init.
  bool _ended = false;
};
