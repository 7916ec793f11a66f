#include "effects/FrameEffectsWide.h"

#include <immintrin.h>

namespace wide {

bool Available() {
    static const bool available = __builtin_cpu_supports("avx512f") &&
                                  __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return available;
}

namespace {

// Byte positions for the permutes between 64 BGR pixels in three vectors
// (192 bytes) and three vectors of one channel each. A permute reads from
// two vectors, so each direction takes two steps: the first fetches what
// lies in two of the vectors, the second (under a mask) the rest from the
// third.
struct TByteIndex {
    alignas(64) uint8_t At[64];
};

// Channel c of pixel j lies at byte 3 * j + c.
constexpr TByteIndex SplitFirst(int c) {
    TByteIndex t{};
    for (int j = 0; j < 64; ++j)
        t.At[j] = static_cast<uint8_t>(3 * j + c < 128 ? 3 * j + c : 0);
    return t;
}

constexpr TByteIndex SplitSecond(int c) {
    TByteIndex t{};
    for (int j = 0; j < 64; ++j)
        t.At[j] = static_cast<uint8_t>(3 * j + c >= 128 ? 3 * j + c - 128 : 0);
    return t;
}

constexpr uint64_t SplitMask(int c) {
    uint64_t m = 0;
    for (int j = 0; j < 64; ++j)
        if (3 * j + c >= 128) m |= uint64_t{1} << j;
    return m;
}

// Byte i of output vector o is channel (64 * o + i) % 3 of pixel
// (64 * o + i) / 3; the first step takes blue and green, the second red.
constexpr TByteIndex JoinFirst(int o) {
    TByteIndex t{};
    for (int i = 0; i < 64; ++i) {
        const int at = 64 * o + i;
        t.At[i] = static_cast<uint8_t>(at % 3 < 2 ? at / 3 + 64 * (at % 3) : 0);
    }
    return t;
}

constexpr TByteIndex JoinSecond(int o) {
    TByteIndex t{};
    for (int i = 0; i < 64; ++i) {
        const int at = 64 * o + i;
        t.At[i] = static_cast<uint8_t>(at % 3 == 2 ? at / 3 : 0);
    }
    return t;
}

constexpr uint64_t JoinMask(int o) {
    uint64_t m = 0;
    for (int i = 0; i < 64; ++i)
        if ((64 * o + i) % 3 == 2) m |= uint64_t{1} << i;
    return m;
}

constexpr TByteIndex kSplitFirst[3] = {SplitFirst(0), SplitFirst(1), SplitFirst(2)};
constexpr TByteIndex kSplitSecond[3] = {SplitSecond(0), SplitSecond(1), SplitSecond(2)};
constexpr uint64_t kSplitMask[3] = {SplitMask(0), SplitMask(1), SplitMask(2)};
constexpr TByteIndex kJoinFirst[3] = {JoinFirst(0), JoinFirst(1), JoinFirst(2)};
constexpr TByteIndex kJoinSecond[3] = {JoinSecond(0), JoinSecond(1), JoinSecond(2)};
constexpr uint64_t kJoinMask[3] = {JoinMask(0), JoinMask(1), JoinMask(2)};

} // namespace

// Everything below runs only after Available() said yes.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vbmi"))),               \
                             apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vbmi")
// GCC 12 takes the intrinsics' deliberately undefined register contents for
// uninitialised variables once they are inlined here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

inline __m512i Load(const void* p) {
    return _mm512_loadu_si512(p);
}
inline void Store(void* p, __m512i v) {
    _mm512_storeu_si512(p, v);
}

// A 256-byte table in four vectors.
struct TTable {
    __m512i Q0, Q1, Q2, Q3;
};

TTable LoadTable(const uint8_t* table) {
    return {Load(table), Load(table + 64), Load(table + 128), Load(table + 192)};
}

inline __m512i Lookup(const TTable& t, __m512i index) {
    const __m512i low = _mm512_permutex2var_epi8(t.Q0, index, t.Q1);
    const __m512i high = _mm512_permutex2var_epi8(t.Q2, index, t.Q3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

inline __m512i Split(__m512i v0, __m512i v1, __m512i v2, int c) {
    const __m512i part = _mm512_permutex2var_epi8(v0, Load(kSplitFirst[c].At), v1);
    return _mm512_mask_permutexvar_epi8(part, kSplitMask[c], Load(kSplitSecond[c].At), v2);
}

inline __m512i Join(const __m512i (&ch)[3], int o) {
    const __m512i part = _mm512_permutex2var_epi8(ch[0], Load(kJoinFirst[o].At), ch[1]);
    return _mm512_mask_permutexvar_epi8(part, kJoinMask[o], Load(kJoinSecond[o].At), ch[2]);
}

inline __m512i LowWords(__m512i bytes) {
    return _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bytes));
}
inline __m512i HighWords(__m512i bytes) {
    return _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(bytes, 1));
}

// Words already clamped below at 0, saturated to bytes above.
inline __m512i ToBytes(__m512i low, __m512i high) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtusepi16_epi8(low)),
                              _mm512_cvtusepi16_epi8(high), 1);
}

// (s * (x + 1)) >> 8 in 16 bits: bits 8..23 of the 32-bit product.
inline __m512i Weight(__m512i x, __m512i s) {
    const __m512i x1 = _mm512_add_epi16(x, _mm512_set1_epi16(1));
    const __m512i low = _mm512_mullo_epi16(x1, s);
    const __m512i high = _mm512_mulhi_epu16(x1, s);
    return _mm512_or_si512(_mm512_slli_epi16(high, 8), _mm512_srli_epi16(low, 8));
}

// Replaces the three channels (words) of 32 pixels by their table indices.
inline void ToIndices(__m512i (&ch)[3], __m512i s) {
    const __m512i sum = _mm512_add_epi16(_mm512_add_epi16(ch[0], ch[1]), ch[2]);
    // sum / 3 for sums below 2^16.
    const __m512i third = _mm512_srli_epi16(
        _mm512_mulhi_epu16(sum, _mm512_set1_epi16(static_cast<short>(0xAAAB))), 1);
    const __m512i grey = _mm512_sub_epi16(third, Weight(third, s));
    const __m512i zero = _mm512_setzero_si512();
    for (__m512i& v : ch)
        v = _mm512_max_epi16(_mm512_add_epi16(grey, Weight(v, s)), zero);
}

} // namespace

int ColorRow(uint8_t* row, int width, const uint8_t* tone, uint32_t saturation) {
    const TTable table = LoadTable(tone);
    const __m512i s = _mm512_set1_epi16(static_cast<short>(saturation));
    const int done = width / 64 * 64;
    for (int x = 0; x < done; x += 64) {
        uint8_t* p = row + x * 3;
        const __m512i v0 = Load(p), v1 = Load(p + 64), v2 = Load(p + 128);
        __m512i ch[3], low[3], high[3];
        for (int c = 0; c < 3; ++c) {
            ch[c] = Split(v0, v1, v2, c);
            low[c] = LowWords(ch[c]);
            high[c] = HighWords(ch[c]);
        }
        ToIndices(low, s);
        ToIndices(high, s);
        for (int c = 0; c < 3; ++c)
            ch[c] = Lookup(table, ToBytes(low[c], high[c]));
        for (int o = 0; o < 3; ++o)
            Store(p + 64 * o, Join(ch, o));
    }
    return done;
}

int MapRow(uint8_t* bytes, int count, const uint8_t* table) {
    const TTable t = LoadTable(table);
    const int done = count / 64 * 64;
    for (int i = 0; i < done; i += 64)
        Store(bytes + i, Lookup(t, Load(bytes + i)));
    return done;
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

} // namespace wide
