// The decoding layer of an entry's stream chain: an input stream whose
// characters are the output of a decoder (deflate, bzip2, LZMA, stored).
//
// compression_decoder_streambuf shares ownership of the decoder and uses the
// decoder's output buffer as its get area, so decoded bytes reach the reader
// without a further copy. It reports the end (EOF) when the decoder produces
// nothing more. It cannot seek or write.
#pragma once

#include <istream>
#include <memory>
#include <streambuf>

#include "zip/methods/compression_interface.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class compression_decoder_streambuf : public std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using base_type = std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_>;
  using int_type = typename base_type::int_type;
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;
  using decoder_type = compression_decoder_interface_basic<ELEM_TYPE_, TRAITS_TYPE_>;

  compression_decoder_streambuf(std::shared_ptr<decoder_type> decoder, compression_decoder_properties_interface& props,
                                istream_type& stream)
      : _compressionDecoder(std::move(decoder)) {
    _compressionDecoder->init(stream, props);
    ELEM_TYPE_* end = _compressionDecoder->get_buffer_end();
    this->setg(end, end, end);
  }

  compression_decoder_streambuf(const compression_decoder_streambuf&) = delete;
  compression_decoder_streambuf& operator=(const compression_decoder_streambuf&) = delete;

 protected:
  int_type underflow() override {
    if (this->gptr() < this->egptr()) return TRAITS_TYPE_::to_int_type(*this->gptr());
    ELEM_TYPE_* begin = _compressionDecoder->get_buffer_begin();
    const size_t count = _compressionDecoder->decode_next();
    this->setg(begin, begin, begin + count);
    if (count == 0) return TRAITS_TYPE_::eof();
    return TRAITS_TYPE_::to_int_type(*begin);
  }

 private:
  std::shared_ptr<decoder_type> _compressionDecoder;
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class basic_compression_decoder_stream : public std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;
  using decoder_type = compression_decoder_interface_basic<ELEM_TYPE_, TRAITS_TYPE_>;

  basic_compression_decoder_stream(std::shared_ptr<decoder_type> decoder,
                                   compression_decoder_properties_interface& props, istream_type& stream)
      : istream_type(nullptr), _decoderStreambuf(std::move(decoder), props, stream) {
    this->init(&_decoderStreambuf);
  }

 private:
  compression_decoder_streambuf<ELEM_TYPE_, TRAITS_TYPE_> _decoderStreambuf;
};

using compression_decoder_stream = basic_compression_decoder_stream<char>;
