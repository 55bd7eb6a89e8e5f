#include "serve/bytesearch.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvantis {

const char *findBytes(const char *at, const char *end, const char *needle, size_t length) {
    if (length == 0 || end < at || static_cast<size_t>(end - at) < length)
        return nullptr;
    const char *const last = end - length; // where the last possible match starts
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(needle[0]);
    const __m128i final = _mm_set1_epi8(needle[length - 1]);
    // Sixteen starts at a time, while the last byte of the last of them is in the text.
    for (; last - at >= 15; at += 16) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + length - 1));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, final))));
        for (; mask != 0; mask &= mask - 1) {
            const char *const start = at + __builtin_ctz(mask);
            if (std::memcmp(start, needle, length) == 0)
                return start;
        }
    }
#endif
    for (; at <= last; ++at)
        if (*at == needle[0] && std::memcmp(at, needle, length) == 0)
            return at;
    return nullptr;
}

} // namespace orvantis
