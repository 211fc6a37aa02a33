// ZIP method 0, stored: the data is not compressed (version needed 1.0).
#pragma once

#include "zip/methods/ICompressionMethod.h"
#include "zip/methods/store_decoder.h"

class StoreMethod : public BasicCompressionMethod<store_decoder, store_decoder_properties, 0, 10> {};
