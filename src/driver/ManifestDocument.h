// ManifestDocument: the manifest's text parsed into a JSON document whose
// memory is reserved up front, so that running out of memory is an
// exception (std::bad_alloc) and never a crash inside the parser.
//
// The JSON library does not check its allocations. The document's values
// therefore live in one block allocated here, sized for the worst case of
// the given text (every value takes at most 8 bytes of the block per byte
// of text), and the parser's own stack grows through an allocator that
// throws. Parsing is iterative, so deep nesting does not use the call
// stack. A NUL byte ends the text. Owns the block and the document; the
// document's values stay valid while this object lives.
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <string>

namespace manifest_json {

// malloc-based allocator for the parser's stack that throws std::bad_alloc
// instead of returning null.
class ThrowingAllocator {
 public:
  static const bool kNeedFree = true;
  void* Malloc(size_t size);
  void* Realloc(void* original, size_t originalSize, size_t newSize);
  static void Free(void* pointer);
};

using Document = rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>, ThrowingAllocator>;

class ManifestDocument {
 public:
  // Parses `text`; throws std::bad_alloc when the memory cannot be had.
  explicit ManifestDocument(const std::string& text);
  ManifestDocument(const ManifestDocument&) = delete;
  ManifestDocument& operator=(const ManifestDocument&) = delete;

  // The parsed root; whatever the parse made of the text, as the library
  // leaves it after an error (check IsObject()).
  rapidjson::Value& root() { return _document; }

 private:
  std::unique_ptr<char[]> _block;
  rapidjson::MemoryPoolAllocator<> _pool;
  ThrowingAllocator _stackAllocator;
  Document _document;
};

}  // namespace manifest_json
