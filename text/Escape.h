#pragma once
// How bytes are written where a reader must see each one of them: each rule once, for the
// engine's failure texts, the targets' errors, the dry run, the JSON the tools write and the
// names of the lock files.

#include <cstddef>
#include <string>
#include <string_view>

enum class TEscape {
  // \xNN for every byte outside printable ASCII: a scale's answer as a failure quotes it.
  HexOutsidePrintable,
  // \xNN for the control characters (below 32, and 127) only, so UTF-8 text stays readable: a
  // target as its error shows it.
  HexControls,
  // As a C string literal holds them: \r, \n, \t, \\, \0, and three-digit octal for every other
  // byte outside printable ASCII.
  C,
  // The inside of a JSON string: \" and \\, \u00xx for the control characters; other bytes, UTF-8
  // among them, as they are.
  Json,
  // %XX for every byte but letters, digits, '.', '-' and '_': a file name made of any text.
  Percent,
};

std::string Escaped(std::string_view bytes, TEscape style);

struct TEscapedPrefix {
  std::string Text;
  bool Whole = true;  // false when bytes were left out
};
// The escaped text up to at most `maxLength` characters; an escape that does not fit whole is
// left out with everything after it.
TEscapedPrefix EscapedPrefix(std::string_view bytes, TEscape style, size_t maxLength);
