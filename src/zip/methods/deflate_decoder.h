// The decoder of ZIP method 8 chosen when the program is configured: ISA-L's
// inflate when it was found (UPDATER_WITH_ISAL), zlib's otherwise. Both
// deliver the same bytes and end the same way on damaged data.
#pragma once

#include "zip/methods/zlib_deflate_decoder.h"
#if UPDATER_WITH_ISAL
#include "zip/methods/isal_deflate_decoder.h"
#endif

#if UPDATER_WITH_ISAL
template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
using basic_deflate_decoder = basic_isal_deflate_decoder<ELEM_TYPE_, TRAITS_TYPE_>;
#else
template <typename ELEM_TYPE_, typename TRAITS_TYPE_>
using basic_deflate_decoder = basic_zlib_deflate_decoder<ELEM_TYPE_, TRAITS_TYPE_>;
#endif

using deflate_decoder = basic_deflate_decoder<char, std::char_traits<char>>;
