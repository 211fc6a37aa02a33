// A ZIP compression method: its descriptor (method number and the version
// needed to extract it) and its decoder with the decoder's properties.
//
// A method object is built with its decoder already created; it shares the
// decoder with whoever asks for it (the decoder stream keeps it alive after
// the method object is gone). The writing side (encoders) is not built.
#pragma once

#include <cstdint>
#include <memory>

#include "zip/methods/compression_interface.h"

struct ZipMethodDescriptor {
  uint16_t CompressionMethod;
  uint16_t VersionNeededToExtract;
};

class ICompressionMethod {
 public:
  using Ptr = std::shared_ptr<ICompressionMethod>;

  virtual ~ICompressionMethod() = default;

  virtual compression_decoder_properties_interface& GetDecoderProperties() = 0;
  virtual const ZipMethodDescriptor& GetZipMethodDescriptor() const = 0;

  const std::shared_ptr<compression_decoder_interface>& GetDecoder() const { return _decoder; }

 protected:
  std::shared_ptr<compression_decoder_interface> _decoder;
};

// The common shape of the four methods: DECODER and PROPERTIES are the
// method's decoder class and its properties; METHOD and VERSION its
// descriptor.
template <typename DECODER, typename PROPERTIES, uint16_t METHOD, uint16_t VERSION>
class BasicCompressionMethod : public ICompressionMethod {
 public:
  BasicCompressionMethod() { _decoder = std::make_shared<DECODER>(); }

  static const ZipMethodDescriptor& GetZipMethodDescriptorStatic() {
    static const ZipMethodDescriptor descriptor = {METHOD, VERSION};
    return descriptor;
  }

  compression_decoder_properties_interface& GetDecoderProperties() override { return _decoderProps; }
  const ZipMethodDescriptor& GetZipMethodDescriptor() const override { return GetZipMethodDescriptorStatic(); }

 protected:
  PROPERTIES _decoderProps;
};
