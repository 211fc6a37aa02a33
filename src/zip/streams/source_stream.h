// A seekable, buffered input stream over an ArchiveSource: what the record
// readers (end record, central directory, local headers) parse from when
// the archive is a file.
//
// source_streambuf refers to (does not own) the source and owns a 64 KiB
// buffer allocated at construction. A seek inside the buffered block only
// moves the read position; any other seek just drops the block, so seeking
// costs no system call and reading one block costs one. Seeking past the end
// succeeds; reading there delivers nothing (EOF).
#pragma once

#include <istream>
#include <memory>
#include <streambuf>

#include "zip/ArchiveSource.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class source_streambuf : public std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using base_type = std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_>;
  using int_type = typename base_type::int_type;
  using pos_type = typename base_type::pos_type;
  using off_type = typename base_type::off_type;

  static constexpr std::streamsize BufferSize = 1 << 16;

  explicit source_streambuf(ArchiveSource& source)
      : _source(source), _buffer(std::make_unique<ELEM_TYPE_[]>(BufferSize)) {
    ELEM_TYPE_* begin = _buffer.get();
    this->setg(begin, begin, begin);
  }

  source_streambuf(const source_streambuf&) = delete;
  source_streambuf& operator=(const source_streambuf&) = delete;

 protected:
  int_type underflow() override {
    if (this->gptr() < this->egptr()) return TRAITS_TYPE_::to_int_type(*this->gptr());
    _blockStart = position();
    ELEM_TYPE_* begin = _buffer.get();
    const size_t got = _source.readAt(static_cast<uint64_t>(_blockStart), reinterpret_cast<char*>(begin),
                                      static_cast<size_t>(BufferSize) * sizeof(ELEM_TYPE_)) /
                       sizeof(ELEM_TYPE_);
    this->setg(begin, begin, begin + got);
    if (got == 0) return TRAITS_TYPE_::eof();
    return TRAITS_TYPE_::to_int_type(*begin);
  }

  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override {
    off_type base = 0;
    if (direction == std::ios_base::cur) base = position();
    if (direction == std::ios_base::end) base = static_cast<off_type>(_source.size());
    return seek_to(base + offset);
  }

  pos_type seekpos(pos_type target, std::ios_base::openmode) override { return seek_to(off_type(target)); }

  std::streamsize showmanyc() override {
    const std::streamsize buffered = this->egptr() - this->gptr();
    return buffered > 0 ? buffered : 0;
  }

 private:
  off_type position() const { return _blockStart + (this->gptr() - this->eback()); }

  pos_type seek_to(off_type target) {
    if (target < 0) return pos_type(off_type(-1));
    ELEM_TYPE_* begin = this->eback();
    const off_type buffered = this->egptr() - begin;
    if (target >= _blockStart && target <= _blockStart + buffered) {
      this->setg(begin, begin + (target - _blockStart), this->egptr());
    } else {
      _blockStart = target;
      this->setg(begin, begin, begin);
    }
    return pos_type(target);
  }

  ArchiveSource& _source;
  std::unique_ptr<ELEM_TYPE_[]> _buffer;
  off_type _blockStart = 0;  // offset of the buffer's first byte
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class basic_source_istream : public std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  explicit basic_source_istream(ArchiveSource& source)
      : std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>(nullptr), _streambuf(source) {
    this->init(&_streambuf);
  }

 private:
  source_streambuf<ELEM_TYPE_, TRAITS_TYPE_> _streambuf;
};

using source_istream = basic_source_istream<char>;
