// The phrase layout: the integer sequence handed from lyrics analysis to the
// composer. A value of 1 or more is a segment's syllable count, STC_PAUSE a
// pause inside a sentence, STC_END the end of a sentence.
#pragma once

#include <cstdint>
#include <vector>

namespace quavella {

using PhraseLayout = std::vector<std::int32_t>;

inline constexpr std::int32_t STC_PAUSE = 0;
inline constexpr std::int32_t STC_END = -1;

}  // namespace quavella
