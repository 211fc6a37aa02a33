// Properties of the deflate decoders (ZIP method 8): the buffer capacity.
#pragma once

#include "zip/methods/compression_interface.h"

struct deflate_decoder_properties : compression_decoder_properties_interface {};
