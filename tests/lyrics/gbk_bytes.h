// GBK test strings built from explicit bytes, and a readable notation for
// phrase layouts ("2 P 3 E" = 2, STC_PAUSE, 3, STC_END), shared by the lyrics tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "lyrics/phrase_layout.h"
#include "tests/support/row_name.h"

namespace quavella::test {

/// n ordinary GB2312 characters (lead byte 0xB0 to 0xF7, trail 0xA1 to 0xFE, so
/// no marks); the first 6768 from `first` on are distinct.
inline std::string cn(int n, int first = 0) {
    std::string s;
    s.reserve(static_cast<std::size_t>(n) * 2);
    for (int k = first; k < first + n; ++k) {
        s.push_back(static_cast<char>(0xB0 + (k / 94) % 72));
        s.push_back(static_cast<char>(0xA1 + k % 94));
    }
    return s;
}

/// An ASCII word of n letters.
inline std::string wn(int n) {
    std::string s;
    for (int k = 0; k < n; ++k) s.push_back(static_cast<char>('a' + k % 26));
    return s;
}

// Double-byte sentence marks.
inline const std::string kJu = "\xA1\xA3";   // 。
inline const std::string kDou = "\xA3\xAC";  // ，
inline const std::string kWen = "\xA3\xBF";  // ？
inline const std::string kTan = "\xA3\xA1";  // ！
inline const std::string kFen = "\xA3\xBB";  // ；
inline const std::string kMao = "\xA3\xBA";  // ：
// Double-byte marks that neither end nor split a word.
inline const std::string kIdeoSpace = "\xA1\xA1";  // ideographic space
inline const std::string kDash = "\xA3\xAD";       // －
inline const std::string kDun = "\xA1\xA2";        // 、
inline const std::string kTilde = "\xA1\xAB";      // ～

/// Names a table row's test after the row's `name` field.

/// Parses "2 P 3 E 0": numbers as they stand, P = STC_PAUSE, E = STC_END.
inline PhraseLayout lay(const std::string& text) {
    PhraseLayout out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) {
        if (tok == "P") {
            out.push_back(STC_PAUSE);
        } else if (tok == "E") {
            out.push_back(STC_END);
        } else {
            out.push_back(static_cast<std::int32_t>(std::stol(tok)));
        }
    }
    return out;
}

/// Writes a layout in the same notation (0 as P), for readable failure messages.
inline std::string show(const PhraseLayout& layout) {
    std::string s;
    for (const auto v : layout) {
        if (!s.empty()) s += ' ';
        s += v == STC_PAUSE ? std::string("P")
             : v == STC_END ? std::string("E")
                            : std::to_string(v);
    }
    return s;
}

}  // namespace quavella::test
