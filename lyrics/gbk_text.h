// Lyric text input: strict UTF-8 validation, UTF-8 to GBK (code page 936)
// conversion, and joining the lines of a lyric text. Used by the window and
// the command line before a Paragraph is built.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quavella {

/// Result of a UTF-8 to GBK conversion.
struct GbkConversion {
    bool ok;                   // false: invalid UTF-8 at bad_offset (or no converter, see below)
    std::string gbk;           // the converted text; empty when !ok
    std::size_t bad_offset;    // byte offset of the first ill-formed sequence; npos if the
                               // system has no UTF-8 to GBK converter; 0 when ok
    std::size_t bad_line = 0;  // lyric_text_from_lines only: the line holding that
                               // sequence, bad_offset then counting within the line
    std::vector<std::string> dropped = {};  // the characters GBK lacks that were left
                                            // out, UTF-8, each once, in order of appearance
    int converter_errno = 0;  // without a converter: why iconv_open failed (EMFILE, ...)
};

/// Finds the first ill-formed UTF-8 sequence: overlong forms, surrogates, code
/// points above U+10FFFF, stray or missing continuation bytes.
/// @return the byte offset where that sequence starts, or nothing when all is valid
std::optional<std::size_t> find_invalid_utf8(std::string_view utf8);

/// Converts UTF-8 text to GBK; characters GBK cannot encode are dropped and listed.
/// Invalid UTF-8 is refused before anything is converted.
/// @param utf8 the text as read
/// @return the GBK bytes and the dropped characters, or ok = false with the offset of
///         the invalid sequence
GbkConversion utf8_to_gbk(std::string_view utf8);

/// Converts GBK text to UTF-8 for display, through one iconv descriptor kept
/// for the converter's life (cheap for many short pieces). A byte that does
/// not start a GBK character becomes U+FFFD, so nothing disappears unseen.
class GbkToUtf8 {
public:
    GbkToUtf8();
    ~GbkToUtf8();
    GbkToUtf8(const GbkToUtf8&) = delete;
    GbkToUtf8& operator=(const GbkToUtf8&) = delete;

    /// @param gbk any bytes
    /// @return valid UTF-8
    std::string operator()(std::string_view gbk);

private:
    void* cd_;  // iconv_t, or (void*)-1 when the system has no GBK converter
};

/// Converts one GBK text to UTF-8 as GbkToUtf8 does.
std::string gbk_to_utf8(std::string_view gbk);

/// Joins the lines of a lyric text in order with nothing between them:
/// "\r\n", "\n" and a lone "\r" are removed, every other byte is kept.
/// @param raw lyric text in GBK or UTF-8 (neither uses these bytes inside a character)
/// @return the joined text
std::string join_lyric_lines(std::string_view raw);

/// The encodings lyric input can come in.
enum class LyricEncoding { utf8, gbk };

/// Parses an encoding name: "utf-8" / "utf8" or "gbk" / "cp936", in any case.
/// @return the encoding, or nothing for an unknown name
std::optional<LyricEncoding> parse_lyric_encoding(std::string_view name);

/// Splits lyric input into its lines: "\r\n", "\n" and a lone "\r" end a line.
/// @param raw lyric text in GBK or UTF-8
/// @return views into raw, one per line; text after the last break is a line too
std::vector<std::string_view> split_lyric_lines(std::string_view raw);

/// Leaves out of GBK lyric text what is no sung word, so that it gets no note:
/// tab, vertical tab, form feed, the ideographic space, … and — become a space;
/// other control bytes (NUL included), quotation marks and brackets (“ ” 《 》
/// 「 」 （ ） [ ] ...), the middle dot and ASCII punctuation other than the
/// sentence marks , . ; ? ! are dropped, except an apostrophe or hyphen inside a
/// Latin word (don't) and a mark between two Latin words, which parts them as a
/// space. Text without such characters comes back byte for byte.
/// @param gbk lyric text, lines joined; double-byte characters are kept whole
std::string tidy_lyric_text(std::string_view gbk);

/// Turns the lines of a lyric text into the joined GBK text a Paragraph is built
/// from, the one path from lyric input to the composer for the window and the
/// command line: the lines joined with nothing between them, UTF-8 validated and
/// converted (Unicode spaces as spaces, C1 controls and byte order marks left out
/// silently, other characters GBK lacks dropped and listed), GBK taken as it
/// stands; then tidy_lyric_text.
/// @param lines the lines, without their line breaks
/// @param encoding how the lines are encoded
/// @return the joined GBK text, or ok = false with bad_line and the offset within
///         that line of the first invalid UTF-8
GbkConversion lyric_text_from_lines(std::span<const std::string_view> lines,
                                    LyricEncoding encoding);
/// The same for lines held as strings (the lyric box's lines).
GbkConversion lyric_text_from_lines(const std::vector<std::string>& lines, LyricEncoding encoding);

/// Turns raw lyric input into the joined GBK text: its lines through
/// lyric_text_from_lines.
/// @param raw the input bytes, lines and all
/// @param encoding how raw is encoded
/// @return the joined GBK text, or ok = false with the offset (in raw) of invalid UTF-8
GbkConversion lyric_text_from_input(std::string_view raw, LyricEncoding encoding);

}  // namespace quavella
