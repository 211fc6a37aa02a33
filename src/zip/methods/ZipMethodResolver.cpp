#include "zip/methods/ZipMethodResolver.h"

#include "zip/methods/Bzip2Method.h"
#include "zip/methods/DeflateMethod.h"
#include "zip/methods/LzmaMethod.h"
#include "zip/methods/StoreMethod.h"

namespace {

template <typename METHOD>
bool Matches(uint16_t compressionMethod) {
  return METHOD::GetZipMethodDescriptorStatic().CompressionMethod == compressionMethod;
}

}  // namespace

ICompressionMethod::Ptr ZipMethodResolver::GetZipMethodInstance(uint16_t compressionMethod) {
  if (Matches<StoreMethod>(compressionMethod)) return std::make_shared<StoreMethod>();
  if (Matches<DeflateMethod>(compressionMethod)) return std::make_shared<DeflateMethod>();
  if (Matches<Bzip2Method>(compressionMethod)) return std::make_shared<Bzip2Method>();
  if (Matches<LzmaMethod>(compressionMethod)) return std::make_shared<LzmaMethod>();
  return nullptr;
}

bool ZipMethodResolver::IsSupported(uint16_t compressionMethod) {
  return Matches<StoreMethod>(compressionMethod) || Matches<DeflateMethod>(compressionMethod) ||
         Matches<Bzip2Method>(compressionMethod) || Matches<LzmaMethod>(compressionMethod);
}
