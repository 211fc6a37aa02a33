// ZIP method 8, deflate (version needed 2.0), decoded with zlib.
#pragma once

#include "zip/methods/ICompressionMethod.h"
#include "zip/methods/deflate_decoder.h"

class DeflateMethod : public BasicCompressionMethod<deflate_decoder, deflate_decoder_properties, 8, 20> {};
