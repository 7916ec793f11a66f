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
// (192 bytes) and vectors of one channel each.
struct TByteIndex {
    alignas(64) uint8_t At[64];
};

// Channel c of pixel j lies at byte 3 * j + c. Taking 32 pixels apart,
// each channel's bytes go to the even bytes of a vector, read from the
// first two vectors for pixels 0..31, from the last two for pixels 32..63;
// the odd bytes come from the index itself and are 1 (so each word is
// v + 256).
constexpr TByteIndex Widen(int half, int c) {
    TByteIndex t{};
    for (int j = 0; j < 32; ++j) {
        t.At[2 * j] = static_cast<uint8_t>(32 * half + 3 * j + c);
        t.At[2 * j + 1] = 1;
    }
    return t;
}

constexpr uint64_t kEvenBytes = 0x5555555555555555u;

// Packing the words of pixels 0..31 and those of 32..63 back into bytes
// goes lane by lane: pixel p lands at this byte of the channel's vector.
constexpr int Packed(int p) {
    const int q = p % 32;
    return 16 * (q / 8) + 8 * (p / 32) + q % 8;
}

// Byte i of output vector o is channel (64 * o + i) % 3 of pixel
// (64 * o + i) / 3; the first step takes blue and green, the second red.
constexpr TByteIndex JoinFirst(int o) {
    TByteIndex t{};
    for (int i = 0; i < 64; ++i) {
        const int at = 64 * o + i;
        t.At[i] = static_cast<uint8_t>(at % 3 < 2 ? Packed(at / 3) + 64 * (at % 3) : 0);
    }
    return t;
}

constexpr TByteIndex JoinSecond(int o) {
    TByteIndex t{};
    for (int i = 0; i < 64; ++i) {
        const int at = 64 * o + i;
        t.At[i] = static_cast<uint8_t>(at % 3 == 2 ? Packed(at / 3) : 0);
    }
    return t;
}

constexpr uint64_t JoinMask(int o) {
    uint64_t m = 0;
    for (int i = 0; i < 64; ++i)
        if ((64 * o + i) % 3 == 2) m |= uint64_t{1} << i;
    return m;
}

constexpr TByteIndex kWiden[2][3] = {{Widen(0, 0), Widen(0, 1), Widen(0, 2)},
                                     {Widen(1, 0), Widen(1, 1), Widen(1, 2)}};
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

inline __m512i Join(const __m512i (&ch)[3], int o) {
    const __m512i part = _mm512_permutex2var_epi8(ch[0], Load(kJoinFirst[o].At), ch[1]);
    return _mm512_mask_permutexvar_epi8(part, kJoinMask[o], Load(kJoinSecond[o].At), ch[2]);
}

// Channel c of 32 pixels (half 0: the first 32 of the three vectors v0,
// v1, v2, half 1: the rest) as words 64 * (v + 1): below 2^15, and the sum
// of a pixel's three below 2^16.
inline __m512i ChannelWords(__m512i v0, __m512i v1, __m512i v2, int half, int c) {
    const __m512i pairs =
        half == 0 ? _mm512_mask2_permutex2var_epi8(v0, Load(kWiden[0][c].At), kEvenBytes, v1)
                  : _mm512_mask2_permutex2var_epi8(v1, Load(kWiden[1][c].At), kEvenBytes, v2);
    return _mm512_maddubs_epi16(pairs, _mm512_set1_epi8(64));
}

// (s * (v + 1)) >> 8 of a word 64 * (v + 1), with s4 = 4 * s:
// (64 * (v + 1) * 4 * s) >> 16.
inline __m512i Weight(__m512i v64, __m512i s4) {
    return _mm512_mulhi_epu16(v64, s4);
}

// Replaces the three channels (words 64 * (v + 1)) of 32 pixels by their
// table indices, signed; packus clamps them into 0..255.
inline void ToIndices(__m512i (&ch)[3], __m512i s4) {
    // sum + 3 = q / 64; (sum + 3) / 3 = third + 1 = (q * 0xAAAB) >> 23.
    const __m512i q = _mm512_add_epi16(_mm512_add_epi16(ch[0], ch[1]), ch[2]);
    const __m512i m = _mm512_mulhi_epu16(q, _mm512_set1_epi16(static_cast<short>(0xAAAB)));
    const __m512i thirdUp64 =
        _mm512_and_si512(_mm512_srli_epi16(m, 1), _mm512_set1_epi16(static_cast<short>(~63)));
    const __m512i thirdUp = _mm512_srli_epi16(m, 7);
    // grey = third - w(third) = thirdUp - 1 - w(third)
    const __m512i grey =
        _mm512_sub_epi16(_mm512_sub_epi16(thirdUp, Weight(thirdUp64, s4)), _mm512_set1_epi16(1));
    for (__m512i& v : ch)
        v = _mm512_add_epi16(grey, Weight(v, s4));
}

} // namespace

namespace {

// The colour pass over whole runs of 64 pixels, through the tone table or,
// without one, straight from the clamped indices.
template <bool kTone>
int ColorRuns(uint8_t* row, int width, const uint8_t* tone, uint32_t saturation) {
    const TTable table = kTone ? LoadTable(tone) : TTable{};
    const __m512i s4 = _mm512_set1_epi16(static_cast<short>(4 * saturation));
    const int done = width / 64 * 64;
    for (int x = 0; x < done; x += 64) {
        uint8_t* p = row + x * 3;
        const __m512i v0 = Load(p), v1 = Load(p + 64), v2 = Load(p + 128);
        __m512i ch[3], low[3], high[3];
        for (int c = 0; c < 3; ++c) {
            low[c] = ChannelWords(v0, v1, v2, 0, c);
            high[c] = ChannelWords(v0, v1, v2, 1, c);
        }
        ToIndices(low, s4);
        ToIndices(high, s4);
        for (int c = 0; c < 3; ++c) {
            ch[c] = _mm512_packus_epi16(low[c], high[c]);
            if (kTone) ch[c] = Lookup(table, ch[c]);
        }
        for (int o = 0; o < 3; ++o)
            Store(p + 64 * o, Join(ch, o));
    }
    return done;
}

} // namespace

int ColorRow(uint8_t* row, int width, const uint8_t* tone, uint32_t saturation) {
    return tone ? ColorRuns<true>(row, width, tone, saturation)
                : ColorRuns<false>(row, width, nullptr, saturation);
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
