// State shared by every decoder: the source stream, the two buffers of equal
// capacity, the counts of the last step and the running totals.
//
// Owns both buffers (allocated once by allocate_buffers, freed on
// destruction), so no decoder is copied. Reading the source never throws: a source in a failed state
// simply delivers nothing.
#pragma once

#include <cstddef>
#include <memory>

#include "zip/methods/compression_interface.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
class basic_decoder_base : public compression_decoder_interface_basic<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;

  basic_decoder_base() = default;
  basic_decoder_base(const basic_decoder_base&) = delete;
  basic_decoder_base& operator=(const basic_decoder_base&) = delete;

  bool is_init() const override { return _inputBuffer != nullptr && _outputBuffer != nullptr; }
  size_t get_bytes_read() const override { return _bytesRead; }
  size_t get_bytes_written() const override { return _bytesWritten; }
  ELEM_TYPE_* get_buffer_begin() override { return _outputBuffer.get(); }
  ELEM_TYPE_* get_buffer_end() override { return _outputBuffer.get() + _outputBufferSize; }

 protected:
  void allocate_buffers(istream_type& stream, const compression_decoder_properties_interface& props) {
    _stream = &stream;
    _bufferCapacity = props.BufferCapacity;
    // Not zeroed: every byte is written before it is read, and a decoder is
    // made for every entry.
    _inputBuffer = std::unique_ptr<ELEM_TYPE_[]>(new ELEM_TYPE_[_bufferCapacity]);
    _outputBuffer = std::unique_ptr<ELEM_TYPE_[]>(new ELEM_TYPE_[_bufferCapacity]);
  }

  // Reads up to a full input buffer from the source and counts it.
  size_t read_input() {
    _stream->read(_inputBuffer.get(), static_cast<std::streamsize>(_bufferCapacity));
    _inputBufferSize = static_cast<size_t>(_stream->gcount());
    _bytesRead += _inputBufferSize;
    return _inputBufferSize;
  }

  void set_produced(size_t count) {
    _outputBufferSize = count;
    _bytesWritten += count;
  }

  istream_type* _stream = nullptr;
  size_t _bufferCapacity = 0;
  std::unique_ptr<ELEM_TYPE_[]> _inputBuffer;
  std::unique_ptr<ELEM_TYPE_[]> _outputBuffer;
  size_t _inputBufferSize = 0;   // bytes read by the last source read
  size_t _outputBufferSize = 0;  // bytes produced by the last step
  size_t _bytesRead = 0;
  size_t _bytesWritten = 0;
  bool _endOfInput = false;
};
