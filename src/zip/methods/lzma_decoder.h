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

#include "zip/methods/decoder_base.h"

struct lzma_decoder_properties : compression_decoder_properties_interface {
  // The entry's uncompressed size, or UnknownSize.
  uint64_t UncompressedSize = UnknownSize;

  void normalize() override {}
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_lzma_decoder : public basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_> {
  using base = basic_decoder_base<ELEM_TYPE_, TRAITS_TYPE_>;

 public:
  using istream_type = typename base::istream_type;

  static constexpr size_t HeaderSize = 9;
  static constexpr size_t PropertiesSize = 5;

  basic_lzma_decoder() = default;
  basic_lzma_decoder(const basic_lzma_decoder&) = delete;
  basic_lzma_decoder& operator=(const basic_lzma_decoder&) = delete;

  ~basic_lzma_decoder() override { lzma_end(&_lzmaStream); }

  void init(istream_type& stream) override {
    lzma_decoder_properties props;
    init(stream, props);
  }

  void init(istream_type& stream, compression_decoder_properties_interface& props) override {
    props.normalize();
    this->allocate_buffers(stream, props.BufferCapacity);
    uint64_t uncompressedSize = compression_decoder_properties_interface::UnknownSize;
    if (auto* lzmaProps = dynamic_cast<lzma_decoder_properties*>(&props)) {
      uncompressedSize = lzmaProps->UncompressedSize;
    }

    unsigned char header[HeaderSize] = {};
    stream.read(reinterpret_cast<ELEM_TYPE_*>(header), HeaderSize);
    this->_bytesRead += static_cast<size_t>(stream.gcount());
    if (stream.gcount() != static_cast<std::streamsize>(HeaderSize)) {
      _failed = true;
      return;
    }
    // Header bytes 0-3 (encoder version, properties size) are not checked:
    // the 5 property bytes always follow.
    const unsigned char* properties = header + 4;

    lzma_filter filter{};
    filter.id = LZMA_FILTER_LZMA1;
    if (lzma_properties_decode(&filter, nullptr, properties, PropertiesSize) != LZMA_OK) {
      _failed = true;
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
    _failed = lzma_raw_decoder(&_lzmaStream, filters) != LZMA_OK;
  }

  size_t decode_next() override {
    this->set_produced(0);
    if (_failed) return 0;
    for (;;) {
      bool sourceDry = false;
      if (_lzmaStream.avail_in == 0) {
        const size_t count = this->read_input();
        _lzmaStream.next_in = reinterpret_cast<const uint8_t*>(this->_inputBuffer.get());
        _lzmaStream.avail_in = count;
        sourceDry = count == 0;
      }
      const size_t availableIn = _lzmaStream.avail_in;
      _lzmaStream.next_out = reinterpret_cast<uint8_t*>(this->_outputBuffer.get());
      _lzmaStream.avail_out = this->_bufferCapacity;
      const lzma_ret result = lzma_code(&_lzmaStream, LZMA_RUN);
      const size_t produced = this->_bufferCapacity - _lzmaStream.avail_out;
      const size_t consumed = availableIn - _lzmaStream.avail_in;
      this->set_produced(produced);
      if (result != LZMA_OK) {
        // End of the data (marker or stated size reached) or corrupt data.
        _failed = true;
        return produced;
      }
      if (produced != 0) return produced;
      if (consumed == 0 || sourceDry) {
        _failed = true;
        return 0;
      }
    }
  }

 private:
  lzma_stream _lzmaStream = LZMA_STREAM_INIT;
  lzma_options_lzma _options{};
  bool _failed = false;
};

using lzma_decoder = basic_lzma_decoder<char, std::char_traits<char>>;
