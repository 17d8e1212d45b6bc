// printf-style formatting of log and wire messages into fixed-size wide buffers.
//
// Formats are written as the broker's messages are documented ("Rsponse data: 0x%I64X",
// "Unknown namedpipe command code: %d"): the Microsoft width prefixes are accepted besides the
// standard ones. The arguments a conversion consumes:
//   %d %i              int            (%hd/%hhd likewise; %ld long; %lld, %I64d int64_t;
//                                      %I32d int32_t; %zd, %Id ptrdiff_t; %jd intmax_t)
//   %u %x %X %o        unsigned int   (with the same prefixes: %I64x/%I64X/%I64u take uint64_t,
//                                      %zu/%Iu size_t)
//   %f %e %g %a ...    double         (%Lf long double)
//   %c %C              int holding a Unicode code point, written as that character
//   %s %S %ls %hs      const char*, UTF-8 text; null is written as "(null)"
//   %p                 const void*
//   %%                 a percent sign
// A 64-bit conversion must be given a 64-bit argument (cast with uint64_t{...}): the variable
// argument list carries no types. Flags, width and precision ("%02x", "%-8s", "%.3d", "%*d")
// behave as in printf; for %s they count characters (UTF-16 code units), not bytes. %n writes
// nothing (its pointer argument is consumed and ignored). An unknown conversion is copied into
// the output as written.
//
// The result holds at most buffer_chars - 1 UTF-16 code units, as the text would in a wide
// buffer of that size: longer output is cut at a character boundary, never an error.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

std::string FormatMessageSized(size_t buffer_chars, const char* format, ...);
std::string FormatMessage64(const char* format, ...);
std::string FormatPath260(const char* format, ...);

// The same with an argument list, for helpers that take a format themselves.
std::string FormatMessageSizedV(size_t buffer_chars, const char* format, va_list args);
