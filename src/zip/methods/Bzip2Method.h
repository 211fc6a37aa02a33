// ZIP method 12, bzip2 (version needed 4.6), decoded with libbz2.
#pragma once

#include "zip/methods/ICompressionMethod.h"
#include "zip/methods/bzip2_decoder.h"

class Bzip2Method : public BasicCompressionMethod<bzip2_decoder, bzip2_decoder_properties, 12, 46> {};
