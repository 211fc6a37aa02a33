#include "driver/ManifestDocument.h"

#include <cassert>
#include <cstdlib>
#include <new>

namespace manifest_json {
namespace {

// Values take at most 8 bytes per byte of text (an array element "0," is a
// 16-byte value, a member "":0, 32 bytes for 5), copied strings at most their
// text plus alignment; the rest covers the pool's header and rounding.
std::size_t blockSizeFor(std::size_t textSize) { return 10 * textSize + 64 * 1024; }

}  // namespace

void* ThrowingAllocator::Malloc(size_t size) {
  if (size == 0) return nullptr;
  void* memory = std::malloc(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void* ThrowingAllocator::Realloc(void* original, size_t, size_t newSize) {
  if (newSize == 0) {
    std::free(original);
    return nullptr;
  }
  void* memory = std::realloc(original, newSize);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void ThrowingAllocator::Free(void* pointer) { std::free(pointer); }

ManifestDocument::ManifestDocument(const std::string& text)
    : _block(new char[blockSizeFor(text.size())]),
      _pool(_block.get(), blockSizeFor(text.size())),
      _document(&_pool, 1024, &_stackAllocator) {
  _document.Parse<rapidjson::kParseDefaultFlags | rapidjson::kParseIterativeFlag>(text.c_str());
  // The block was large enough: the pool never fell back to unchecked malloc.
  assert(_pool.Capacity() <= blockSizeFor(text.size()));
}

}  // namespace manifest_json
