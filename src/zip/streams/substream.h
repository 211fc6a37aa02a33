// A read-only window [start, start + length) over another input stream: the
// compressed bytes of one ZIP entry inside the archive stream.
//
// sub_streambuf owns a 32 KiB buffer, allocated at construction, and refers
// to (does not own) the source stream. Every refill seeks the source to the
// window's current position first, so several windows over one archive
// stream can be read interleaved. It reports the end (EOF) when the window is
// used up or the source delivers nothing more (a truncated archive). Large
// reads go from the source straight into the reader's memory.
#pragma once

#include <algorithm>
#include <istream>
#include <memory>
#include <streambuf>

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class sub_streambuf : public std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using base_type = std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_>;
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;
  using int_type = typename base_type::int_type;
  using pos_type = typename base_type::pos_type;
  using off_type = typename base_type::off_type;

  static constexpr std::streamsize BufferSize = 1 << 15;

  sub_streambuf(istream_type& input, pos_type startOffset, std::streamsize length)
      : _inputStream(input),
        _startPosition(startOffset),
        _currentPosition(startOffset),
        _endPosition(startOffset + static_cast<off_type>(length)),
        _internalBuffer(std::make_unique<ELEM_TYPE_[]>(BufferSize)) {
    ELEM_TYPE_* begin = _internalBuffer.get();
    this->setg(begin, begin, begin);
  }

  sub_streambuf(const sub_streambuf&) = delete;
  sub_streambuf& operator=(const sub_streambuf&) = delete;

 protected:
  int_type underflow() override {
    if (this->gptr() < this->egptr()) return TRAITS_TYPE_::to_int_type(*this->gptr());
    ELEM_TYPE_* begin = _internalBuffer.get();
    const std::streamsize count = read_source(begin, BufferSize);
    this->setg(begin, begin, begin + count);
    if (count == 0) return TRAITS_TYPE_::eof();
    return TRAITS_TYPE_::to_int_type(*begin);
  }

  // Copies what is buffered, then reads whole blocks from the source straight
  // into `destination`.
  std::streamsize xsgetn(ELEM_TYPE_* destination, std::streamsize count) override {
    std::streamsize done = std::min<std::streamsize>(count, this->egptr() - this->gptr());
    if (done > 0) {
      TRAITS_TYPE_::copy(destination, this->gptr(), static_cast<size_t>(done));
      this->gbump(static_cast<int>(done));
    }
    while (done < count) {
      const std::streamsize got = read_source(destination + done, count - done);
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  std::streamsize showmanyc() override {
    const std::streamsize left = this->egptr() - this->gptr() + remaining();
    return left > 0 ? left : -1;
  }

 private:
  std::streamsize remaining() const { return static_cast<std::streamsize>(_endPosition - _currentPosition); }

  // Reads up to `count` bytes (and no more than is left in the window) at
  // the current position.
  std::streamsize read_source(ELEM_TYPE_* destination, std::streamsize count) {
    const std::streamsize wanted = std::min(count, remaining());
    if (wanted <= 0) return 0;
    // Another reader may have left the shared stream at its end or failed;
    // that must not end this window.
    _inputStream.clear();
    _inputStream.seekg(_currentPosition);
    _inputStream.read(destination, wanted);
    const std::streamsize got = _inputStream.gcount();
    _currentPosition += static_cast<off_type>(got);
    return got;
  }

  istream_type& _inputStream;
  pos_type _startPosition;
  pos_type _currentPosition;
  pos_type _endPosition;
  std::unique_ptr<ELEM_TYPE_[]> _internalBuffer;
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class basic_isubstream : public std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;
  using pos_type = typename istream_type::pos_type;

  basic_isubstream(istream_type& input, pos_type startOffset, std::streamsize length)
      : istream_type(nullptr), _subStreambuf(input, startOffset, length) {
    this->init(&_subStreambuf);
  }

 private:
  sub_streambuf<ELEM_TYPE_, TRAITS_TYPE_> _subStreambuf;
};

using isubstream = basic_isubstream<char>;
