// The buffered reading shared by the stream layers that take their bytes in
// blocks from below (the entry's substream, the decryption layer).
//
// buffered_istreambuf owns one buffer, handed over at construction, and
// refills it through the hook read_block, which a layer implements to fetch
// (and transform) its next bytes. Reads of a buffer's size or more skip the
// buffer and go straight into the reader's memory. The end (EOF) is where
// read_block delivers nothing. It cannot write.
#pragma once

#include <algorithm>
#include <memory>
#include <streambuf>

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class buffered_istreambuf : public std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using base_type = std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_>;
  using int_type = typename base_type::int_type;

  buffered_istreambuf(const buffered_istreambuf&) = delete;
  buffered_istreambuf& operator=(const buffered_istreambuf&) = delete;

 protected:
  // The get area starts empty.
  buffered_istreambuf(std::unique_ptr<ELEM_TYPE_[]> buffer, std::streamsize capacity)
      : _buffer(std::move(buffer)), _capacity(capacity) {
    ELEM_TYPE_* begin = _buffer.get();
    this->setg(begin, begin, begin);
  }

  // Up to `count` next characters into `destination`; 0 at the end.
  virtual std::streamsize read_block(ELEM_TYPE_* destination, std::streamsize count) = 0;

  int_type underflow() override {
    if (this->gptr() < this->egptr()) return TRAITS_TYPE_::to_int_type(*this->gptr());
    return refill() ? TRAITS_TYPE_::to_int_type(*this->gptr()) : TRAITS_TYPE_::eof();
  }

  // Copies what is buffered; requests of a buffer or more go from the hook
  // straight into `destination`, smaller rests through the buffer.
  std::streamsize xsgetn(ELEM_TYPE_* destination, std::streamsize count) override {
    std::streamsize done = 0;
    while (done < count) {
      const std::streamsize buffered = this->egptr() - this->gptr();
      if (buffered > 0) {
        const std::streamsize step = std::min(buffered, count - done);
        TRAITS_TYPE_::copy(destination + done, this->gptr(), static_cast<size_t>(step));
        this->gbump(static_cast<int>(step));
        done += step;
      } else if (count - done >= _capacity) {
        const std::streamsize got = read_block(destination + done, count - done);
        if (got == 0) break;
        done += got;
      } else if (!refill()) {
        break;
      }
    }
    return done;
  }

  ELEM_TYPE_* buffer() const { return _buffer.get(); }

 private:
  // Fills the buffer through the hook; false at the end.
  bool refill() {
    ELEM_TYPE_* begin = _buffer.get();
    const std::streamsize got = read_block(begin, _capacity);
    this->setg(begin, begin, begin + got);
    return got > 0;
  }

  std::unique_ptr<ELEM_TYPE_[]> _buffer;
  std::streamsize _capacity;
};
