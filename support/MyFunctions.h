#pragma once
// Text helpers on byte strings (ASCII-only casing), environment expansion and the
// reader of the version record that the build embeds in the program.
//
// None of these throws. Thread: all reentrant (ExpandEnvironment reads the environment,
// which must not be changed concurrently by another thread).
// The clipboard helper needs the GUI toolkit and lives in widgets/.

#include <cstdint>
#include <string>

std::string UpperText(const std::string &text);
std::string LowerText(const std::string &text);
// The last count bytes; the whole text when it is not longer. A negative count gives "".
std::string RightText(const std::string &text, int count);
// Zeros in front until width bytes long; the minus sign counts and the zeros go before
// it (ZeroPad(-5, 3) == "0-5"), as callers of the original formatting expect.
std::string ZeroPad(std::int64_t value, int width);

// The part before the first delimiter; it and the delimiter are removed from text.
// Without a delimiter: the whole text, which becomes empty.
std::string CutToken(std::string &text, char delimiter);
// Token number index (0-based); "" when the text runs out first. Adjacent delimiters
// give empty tokens.
std::string TokenAt(const std::string &text, int index, char delimiter);
// 0 for ""; otherwise 1 + the number of delimiters.
int TokenCount(const std::string &text, char delimiter);
// Leading blank(s) removed, runs of blanks to one, a trailing blank removed (blanks only).
std::string CollapseBlanks(const std::string &text);
// Bytes that occur in charSet removed from both ends.
std::string TrimCharSet(const std::string &text, const std::string &charSet);
// Every occurrence of oldText replaced left to right without rescanning inserted text.
// Case-insensitive matching compares ASCII upper case and keeps the text's own case
// elsewhere. An empty oldText leaves the text unchanged.
std::string ReplaceText(const std::string &text, const std::string &oldText,
                        const std::string &newText, bool caseSensitive);
// Every occurrence of character replaced; a replacement of '\0' removes them instead.
std::string ReplaceChar(const std::string &text, char character, char replacement);

inline const std::string &IfThenText(bool condition, const std::string &ifTrue,
                                     const std::string &ifFalse) {
  return condition ? ifTrue : ifFalse;
}
inline int IfThenInt(bool condition, int ifTrue, int ifFalse) {
  return condition ? ifTrue : ifFalse;
}
inline std::string TextOrDefault(const std::string &text, const std::string &defaultText) {
  return text.empty() ? defaultText : text;
}
// base multiplied exponent times in 32 bits (wrapping); 1 for exponent <= 0.
std::int32_t IntPow(std::int32_t base, std::int32_t exponent);

// %NAME% references replaced by the environment variable NAME (exact name first, then
// the name in any letter case, since the original platform's names are case-blind).
// TEMP and TMP fall back to TMPDIR and then "/tmp". An unknown name stays as written,
// both percent signs included, and scanning goes on after it; a lone "%" is kept.
std::string ExpandEnvironment(const std::string &text);

// The running program's own file (from /proc/self/exe); "" when it cannot be read.
std::string ProgramFileName();

// The version recorded in the file by ORVANE_EMBED_VERSION_RECORD (support/VersionRecord.h)
// as "major.minor.release.build"; with trim, trailing ".0" parts are removed.
// "" when the file cannot be read or holds no valid record.
std::string FileVersionText(const std::string &fileName, bool trim);
