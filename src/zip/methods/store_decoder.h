// Decoder of ZIP method 0: passes the source's bytes through, one buffer at
// a time. Ends when the source delivers nothing more.
#pragma once

#include "zip/methods/decoder_base.h"

struct store_decoder_properties : compression_decoder_properties_interface {};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_store_decoder : public basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_>;

 public:
  using istream_type = typename base::istream_type;

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    this->allocate_buffers(stream, props);
  }

  size_t decode_next() override {
    // The source is read straight into the output buffer: there is nothing
    // to transform, so the input buffer stays unused.
    this->_stream->read(this->_outputBuffer.get(), static_cast<std::streamsize>(this->_bufferCapacity));
    const auto count = static_cast<size_t>(this->_stream->gcount());
    this->_bytesRead += count;
    this->set_produced(count);
    return count;
  }
};

using store_decoder = basic_store_decoder<char, std::char_traits<char>>;
