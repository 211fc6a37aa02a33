// Decoder of ZIP method 14: the ZIP LZMA header (2 version bytes, 2 bytes
// properties size, 5 property bytes) followed by a raw LZMA1 stream, decoded
// with liblzma from the input buffer straight into the output buffer.
//
// Owns the lzma_stream (lzma_end on destruction). With the entry's
// uncompressed size known (UncompressedSize in the properties) the data is
// decoded with or without an end-of-stream marker and the dictionary is never
// larger than the data needs, so a forged dictionary size cannot make it
// allocate gigabytes; with the size unknown an end marker or the end of input
// ends it. Ends early, with no exception, on a header that cannot be read or
// on corrupt data.
#pragma once

#include <lzma.h>

#include <algorithm>
#include <cstdint>

#include "zip/methods/codec_decoder.h"

struct lzma_decoder_properties : compression_decoder_properties_interface {
  // The entry's uncompressed size, or UnknownSize.
  uint64_t UncompressedSize = UnknownSize;
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_lzma_decoder : public basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_codec_decoder<ELEM_TYPE_, TRAITS_TYPE_>;
  using step_state = typename base::step_state;

 public:
  using istream_type = typename base::istream_type;

  static constexpr size_t HeaderSize = 9;
  static constexpr size_t PropertiesSize = 5;

  ~basic_lzma_decoder() override { lzma_end(&_lzmaStream); }

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    this->allocate_buffers(stream, props);
    uint64_t uncompressedSize = compression_decoder_properties_interface::UnknownSize;
    if (auto* lzmaProps = dynamic_cast<lzma_decoder_properties*>(&props)) {
      uncompressedSize = lzmaProps->UncompressedSize;
    }

    unsigned char header[HeaderSize] = {};
    stream.read(reinterpret_cast<ELEM_TYPE_*>(header), HeaderSize);
    this->_bytesRead += static_cast<size_t>(stream.gcount());
    if (stream.gcount() != static_cast<std::streamsize>(HeaderSize)) {
      this->_ended = true;
      return;
    }
    // Header bytes 0-3 (encoder version, properties size) are not checked:
    // the 5 property bytes always follow.
    const unsigned char* properties = header + 4;

    lzma_filter filter{};
    filter.id = LZMA_FILTER_LZMA1;
    if (lzma_properties_decode(&filter, nullptr, properties, PropertiesSize) != LZMA_OK) {
      this->_ended = true;
      return;
    }
    // lzma_properties_decode allocated the options; we keep our own copy.
    _options = *static_cast<lzma_options_lzma*>(filter.options);
    free(filter.options);

    filter.id = LZMA_FILTER_LZMA1;
    if (uncompressedSize != compression_decoder_properties_interface::UnknownSize) {
      // A match never reaches further back than the data decoded so far, so
      // a dictionary the size of the data is always enough.
      const uint64_t needed = std::max<uint64_t>(uncompressedSize, LZMA_DICT_SIZE_MIN);
      if (_options.dict_size > needed) _options.dict_size = static_cast<uint32_t>(needed);
      filter.id = LZMA_FILTER_LZMA1EXT;
      _options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
      lzma_set_ext_size(_options, uncompressedSize);
    }
    filter.options = &_options;
    lzma_filter filters[2] = {filter, {LZMA_VLI_UNKNOWN, nullptr}};
    this->_ended = lzma_raw_decoder(&_lzmaStream, filters) != LZMA_OK;
    _lzmaStream.avail_out = SIZE_MAX;  // not full, so that the first step reads input
  }

 protected:
  bool output_full() const override { return _lzmaStream.avail_out == 0; }
  bool input_left() const override { return _lzmaStream.avail_in != 0; }

  void set_input(ELEM_TYPE_* input, size_t count) override {
    _lzmaStream.next_in = reinterpret_cast<const uint8_t*>(input);
    _lzmaStream.avail_in = count;
  }

  // The end of the data (marker or stated size reached) ends it as corrupt
  // data does, after what the step produced.
  step_state step(ELEM_TYPE_* output, size_t capacity, size_t& produced) override {
    _lzmaStream.next_out = reinterpret_cast<uint8_t*>(output);
    _lzmaStream.avail_out = capacity;
    const lzma_ret result = lzma_code(&_lzmaStream, LZMA_RUN);
    produced = capacity - _lzmaStream.avail_out;
    if (result == LZMA_STREAM_END) return step_state::finished;
    return result == LZMA_OK ? step_state::running : step_state::failed;
  }

 private:
  lzma_stream _lzmaStream = LZMA_STREAM_INIT;
  lzma_options_lzma _options{};
};

using lzma_decoder = basic_lzma_decoder<char, std::char_traits<char>>;
