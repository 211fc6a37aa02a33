// ZIP method 14, LZMA (version needed 6.3), decoded with liblzma's raw LZMA1
// decoder.
#pragma once

#include "zip/methods/ICompressionMethod.h"
#include "zip/methods/lzma_decoder.h"

class LzmaMethod : public BasicCompressionMethod<lzma_decoder, lzma_decoder_properties, 14, 63> {};
