// A read-only window [start, start + length) over an archive's bytes: the
// compressed bytes of one ZIP entry.
//
// sub_streambuf refers to (does not own) the ArchiveSource and owns one
// buffer, allocated once: either handed over with bytes already read (the
// entry reads its local header and the first data in one go), or 32 KiB.
// Every refill reads at the window's own position, so several windows over
// one archive can be read interleaved; buffered_istreambuf does the
// buffering. It reports the end (EOF) when the window is used up or the
// source delivers nothing more (a truncated archive). It can seek inside the
// window (so a decoder can start again), not write.
#pragma once

#include <algorithm>
#include <istream>
#include <memory>
#include <streambuf>

#include "zip/ArchiveSource.h"
#include "zip/streams/buffered_streambuf.h"

// A buffer for a window, with the window's first bytes possibly in it
// already at [begin, end).
template <typename ELEM_TYPE_>
struct substream_block {
  std::unique_ptr<ELEM_TYPE_[]> data;
  std::streamsize capacity = 0;
  std::streamsize begin = 0;
  std::streamsize end = 0;
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class sub_streambuf : public buffered_istreambuf<ELEM_TYPE_, TRAITS_TYPE_> {
  static_assert(sizeof(ELEM_TYPE_) == 1, "archive bytes are read as characters");
  using buffered_type = buffered_istreambuf<ELEM_TYPE_, TRAITS_TYPE_>;

 public:
  using base_type = std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_>;
  using int_type = typename base_type::int_type;
  using pos_type = typename base_type::pos_type;
  using off_type = typename base_type::off_type;

  static constexpr std::streamsize BufferSize = 1 << 15;

  sub_streambuf(ArchiveSource& source, pos_type startOffset, std::streamsize length,
                substream_block<ELEM_TYPE_> block = {})
      : sub_streambuf(prepared{}, source, startOffset, length, with_buffer(std::move(block))) {}

 protected:
  std::streamsize showmanyc() override {
    const std::streamsize left = this->egptr() - this->gptr() + remaining();
    return left > 0 ? left : -1;
  }

  // Positions count from the window's start.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode) override {
    const off_type length = _endPosition - _startPosition;
    off_type base = 0;
    if (direction == std::ios_base::cur) base = (_currentPosition - _startPosition) - (this->egptr() - this->gptr());
    if (direction == std::ios_base::end) base = length;
    return seek_to(base + offset);
  }

  pos_type seekpos(pos_type target, std::ios_base::openmode) override { return seek_to(off_type(target)); }

  // Reads up to `count` bytes (and no more than is left in the window) at
  // the current position.
  std::streamsize read_block(ELEM_TYPE_* destination, std::streamsize count) override {
    const std::streamsize wanted = std::min(count, remaining());
    if (wanted <= 0) return 0;
    const size_t got = _source.readAt(static_cast<uint64_t>(off_type(_currentPosition)),
                                      reinterpret_cast<char*>(destination), static_cast<size_t>(wanted));
    _currentPosition += static_cast<off_type>(got);
    return static_cast<std::streamsize>(got);
  }

 private:
  static substream_block<ELEM_TYPE_> with_buffer(substream_block<ELEM_TYPE_> block) {
    if (block.data == nullptr || block.capacity <= 0) {
      block.data = std::make_unique<ELEM_TYPE_[]>(BufferSize);
      block.capacity = BufferSize;
      block.begin = block.end = 0;
    }
    return block;
  }

  struct prepared {};  // the block has its buffer

  sub_streambuf(prepared, ArchiveSource& source, pos_type startOffset, std::streamsize length,
                substream_block<ELEM_TYPE_>&& block)
      : buffered_type(std::move(block.data), block.capacity),
        _source(source),
        _startPosition(startOffset),
        _currentPosition(startOffset),
        _endPosition(startOffset + static_cast<off_type>(length)) {
    const std::streamsize ready =
        std::clamp<std::streamsize>(block.end - block.begin, 0, std::max<std::streamsize>(length, 0));
    ELEM_TYPE_* first = this->buffer() + block.begin;
    this->setg(first, first, first + ready);
    _currentPosition += static_cast<off_type>(ready);
  }

  std::streamsize remaining() const { return static_cast<std::streamsize>(_endPosition - _currentPosition); }

  pos_type seek_to(off_type target) {
    if (target < 0 || target > _endPosition - _startPosition) return pos_type(off_type(-1));
    const off_type bufferedFrom = (_currentPosition - _startPosition) - (this->egptr() - this->eback());
    if (target >= bufferedFrom && target <= _currentPosition - _startPosition) {
      this->setg(this->eback(), this->eback() + (target - bufferedFrom), this->egptr());
    } else {
      _currentPosition = _startPosition + target;
      ELEM_TYPE_* begin = this->buffer();
      this->setg(begin, begin, begin);
    }
    return pos_type(target);
  }

  ArchiveSource& _source;
  pos_type _startPosition;
  pos_type _currentPosition;  // source position of the get area's end
  pos_type _endPosition;
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class basic_isubstream : public std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;
  using pos_type = typename istream_type::pos_type;

  basic_isubstream(ArchiveSource& source, pos_type startOffset, std::streamsize length,
                   substream_block<ELEM_TYPE_> block = {})
      : istream_type(nullptr), _subStreambuf(source, startOffset, length, std::move(block)) {
    this->init(&_subStreambuf);
  }

 private:
  sub_streambuf<ELEM_TYPE_, TRAITS_TYPE_> _subStreambuf;
};

using isubstream = basic_isubstream<char>;
