// The decryption layer of an entry's stream chain: traditional PKWARE ZIP
// encryption (three 32-bit keys updated through the CRC-32 table, a 12-byte
// encryption header in front of the data).
//
// zip_crypto_streambuf owns a 32 KiB buffer, allocated at construction, and
// refers to (does not own) its source, the entry's bounded substream. The
// header must be read and checked (read_encryption_header) before any data:
// until then reading yields EOF. The check compares only the header's last
// byte with the expected one (_finalByte); a header shorter than 12 bytes
// fails the check. Reading ends (EOF) when the source ends. The buffering,
// large reads decrypted straight into the reader's memory included, is
// buffered_istreambuf's.
#pragma once

#include <zlib.h>

#include <cassert>
#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>

#include "zip/streams/buffered_streambuf.h"

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class zip_crypto_streambuf : public buffered_istreambuf<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using base_type = std::basic_streambuf<ELEM_TYPE_, TRAITS_TYPE_>;
  using int_type = typename base_type::int_type;
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;

  static constexpr std::streamsize BufferSize = 1 << 15;
  static constexpr size_t EncryptionHeaderSize = 12;

  zip_crypto_streambuf(istream_type& input, const char* password)
      : buffered_istreambuf<ELEM_TYPE_, TRAITS_TYPE_>(std::make_unique<ELEM_TYPE_[]>(BufferSize), BufferSize),
        _inputStream(&input) {
    assert(password != nullptr);
    init_keys(password);
  }

  void set_final_byte(int finalByte) { _finalByte = finalByte; }

  bool read_encryption_header() {
    _inputStream->read(reinterpret_cast<ELEM_TYPE_*>(_encryptionHeader), EncryptionHeaderSize);
    const auto got = static_cast<size_t>(_inputStream->gcount());
    for (size_t i = 0; i < got; ++i) _encryptionHeader[i] = decrypt_byte(_encryptionHeader[i]);
    _encryptionHeaderRead = true;
    // Data too short to hold a header cannot be checked, so it fails.
    if (got != EncryptionHeaderSize) return false;
    return _finalByte >= 0 && _encryptionHeader[EncryptionHeaderSize - 1] == static_cast<uint8_t>(_finalByte & 0xFF);
  }

 protected:
  // Nothing comes before the header has been read.
  std::streamsize read_block(ELEM_TYPE_* destination, std::streamsize count) override {
    if (!_encryptionHeaderRead) return 0;
    _inputStream->read(destination, count);
    const std::streamsize got = _inputStream->gcount();
    auto* bytes = reinterpret_cast<uint8_t*>(destination);
    for (std::streamsize i = 0; i < got; ++i) bytes[i] = decrypt_byte(bytes[i]);
    return got;
  }

 private:
  void init_keys(const char* password) {
    _keys[0] = 0x12345678;
    _keys[1] = 0x23456789;
    _keys[2] = 0x34567890;
    for (const char* p = password; *p != '\0'; ++p) update_keys(static_cast<uint8_t>(*p));
  }

  static uint32_t crc32_byte(uint32_t crc, uint8_t byte) {
    static const z_crc_t* const table = get_crc_table();
    return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  }

  void update_keys(uint8_t byte) {
    _keys[0] = crc32_byte(_keys[0], byte);
    _keys[1] = (_keys[1] + (_keys[0] & 0xFF)) * 134775813u + 1;
    _keys[2] = crc32_byte(_keys[2], static_cast<uint8_t>(_keys[1] >> 24));
  }

  uint8_t keystream_byte() const {
    const uint32_t temp = (_keys[2] & 0xFFFF) | 2;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
  }

  uint8_t decrypt_byte(uint8_t cipher) {
    const uint8_t plain = cipher ^ keystream_byte();
    update_keys(plain);
    return plain;
  }

  istream_type* _inputStream;
  uint32_t _keys[3] = {};
  uint8_t _encryptionHeader[EncryptionHeaderSize] = {};
  int _finalByte = -1;
  bool _encryptionHeaderRead = false;
};

template <typename ELEM_TYPE_, typename TRAITS_TYPE_ = std::char_traits<ELEM_TYPE_>>
class basic_zip_cryptostream : public std::basic_iostream<ELEM_TYPE_, TRAITS_TYPE_> {
 public:
  using iostream_type = std::basic_iostream<ELEM_TYPE_, TRAITS_TYPE_>;
  using istream_type = std::basic_istream<ELEM_TYPE_, TRAITS_TYPE_>;

  basic_zip_cryptostream(istream_type& input, const char* password)
      : iostream_type(nullptr), _cryptoStreambuf(input, password) {
    this->init(&_cryptoStreambuf);
  }

  void set_final_byte(int finalByte) { _cryptoStreambuf.set_final_byte(finalByte); }
  bool read_encryption_header() { return _cryptoStreambuf.read_encryption_header(); }

 private:
  zip_crypto_streambuf<ELEM_TYPE_, TRAITS_TYPE_> _cryptoStreambuf;
};

using zip_cryptostream = basic_zip_cryptostream<char>;
