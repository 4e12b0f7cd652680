// FSE (tANS) tables. Symbols own contiguous state ranges in ascending symbol
// order (no spreading); a symbol of frequency f reads k or k - 1 bits, where k
// is the number of bits that brings f·2^k into [states, 2·states).

#include <algorithm>
#include <bit>

#include "lzfse/lzfse_internal.h"

namespace skarvel::lzfse {
namespace {

int Log2(uint32_t v) { return static_cast<int>(std::bit_width(v)) - 1; }

// Calls visit(symbol, j, nbits, delta) for the j-th state of every symbol, in
// state order.
template <typename Visit>
void ForEachState(int states, int symbols, const uint16_t* freq, Visit visit) {
  const int log_states = Log2(static_cast<uint32_t>(states));
  for (int s = 0; s < symbols; ++s) {
    const int f = freq[s];
    if (f == 0) continue;
    const int k = log_states - Log2(static_cast<uint32_t>(f));
    const int j0 = ((2 * states) >> k) - f;
    for (int j = 0; j < f; ++j) {
      if (j < j0) {
        visit(s, k, ((f + j) << k) - states);
      } else {
        visit(s, k - 1, (j - j0) << (k - 1));
      }
    }
  }
}

}  // namespace

void BuildLiteralTable(const uint16_t* freq, LiteralEntry* table) {
  int state = 0;
  ForEachState(kLiteralStates, kLiteralSymbols, freq, [&](int s, int nbits, int delta) {
    table[state++] = LiteralEntry{.nbits = static_cast<uint8_t>(nbits),
                                  .symbol = static_cast<uint8_t>(s),
                                  .delta = static_cast<uint16_t>(delta)};
  });
}

void BuildValueTable(int states, int symbols, const uint16_t* freq, const uint8_t* extra_bits,
                     const uint32_t* base, ValueEntry* table) {
  int state = 0;
  ForEachState(states, symbols, freq, [&](int s, int nbits, int delta) {
    table[state++] = ValueEntry{.total_bits = static_cast<uint8_t>(nbits + extra_bits[s]),
                                .value_bits = extra_bits[s],
                                .delta = static_cast<uint16_t>(delta),
                                .value_base = base[s]};
  });
}

void BuildEncoderTable(int states, int symbols, const uint16_t* freq, EncoderEntry* table) {
  const int log_states = Log2(static_cast<uint32_t>(states));
  int start = 0;
  for (int s = 0; s < symbols; ++s) {
    const int f = freq[s];
    if (f == 0) {
      table[s] = EncoderEntry{};
      continue;
    }
    const int k = log_states - Log2(static_cast<uint32_t>(f));
    table[s] = EncoderEntry{
        .s0 = static_cast<int16_t>((f << k) - states),
        .k = static_cast<int16_t>(k),
        .delta0 = static_cast<int16_t>(start - f + (states >> k)),
        .delta1 = static_cast<int16_t>(k > 0 ? start - f + (states >> (k - 1)) : 0),
    };
    start += f;
  }
}

void NormalizeCounts(int states, int symbols, const uint32_t* counts, uint16_t* freq) {
  uint32_t total = 0;
  for (int i = 0; i < symbols; ++i) total += counts[i];
  const uint32_t step = total == 0 ? 0 : (uint32_t{1} << 31) / total;
  const int shift = 30 - Log2(static_cast<uint32_t>(states));

  int remaining = states;
  int max_freq = 0;
  int max_symbol = 0;
  for (int i = 0; i < symbols; ++i) {
    // counts[i] · step <= 2^31, so the product stays in 32 bits.
    int f = static_cast<int>((((counts[i] * step) >> shift) + 1) >> 1);
    if (f == 0 && counts[i] > 0) f = 1;
    freq[i] = static_cast<uint16_t>(f);
    remaining -= f;
    if (f > max_freq) {
      max_freq = f;
      max_symbol = i;
    }
  }
  if (-remaining < (max_freq >> 2)) {
    // Small error either way: the most frequent symbol absorbs it.
    freq[max_symbol] = static_cast<uint16_t>(freq[max_symbol] + remaining);
    return;
  }
  // Large excess: take it back from every symbol, coarsely first.
  int over = -remaining;
  for (int sh = 3; sh >= 0 && over > 0; --sh) {
    for (int i = 0; i < symbols && over > 0; ++i) {
      if (freq[i] <= 1) continue;
      const int take = std::min((freq[i] - 1) >> sh, over);
      freq[i] = static_cast<uint16_t>(freq[i] - take);
      over -= take;
    }
  }
}

}  // namespace skarvel::lzfse
