#pragma once
// The scale's single-byte code page: UTF-8 text converted character by character through the C
// library's iconv, each character looked up once.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ECodePage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A code page iconv knows that writes some characters in more than one byte (UTF-8, UTF-16, ...).
class ECodePageNotSingleByte : public ECodePage {
 public:
  using ECodePage::ECodePage;
};

// The code pages offered to the operator; iconv may know more.
const std::vector<std::string>& KnownCodePages();

class TCodePage {
 public:
  // Throws ECodePage when iconv does not know `name`, ECodePageNotSingleByte when it is not a
  // single-byte code page.
  explicit TCodePage(std::string name);

  const std::string& Name() const { return name_; }
  // The character's bytes in this code page; none when it cannot hold it.
  const std::optional<std::string>& Encode(char32_t character);
  // Valid UTF-8 text in this code page; none when it cannot hold all of it.
  std::optional<std::string> EncodeText(std::string_view utf8);
  // The closest letter without accent that this code page holds, else "?", as UTF-8.
  std::string Transliterate(char32_t character);

  // A character of valid UTF-8 text that this code page cannot hold: its place and, when
  // transliterating, what it became.
  struct TMiss {
    size_t Offset;          // of its first byte in the text
    std::string Character;  // its UTF-8 bytes
    std::string Replacement;  // UTF-8
  };
  struct TConversion {
    std::string Bytes;
    std::vector<TMiss> Misses;
  };
  // Converts valid UTF-8 text. Characters it cannot hold become their transliteration when
  // `transliterate` is on; otherwise they are left out of Bytes and only listed.
  TConversion Convert(std::string_view utf8, bool transliterate);

 private:
  std::string name_;
  std::unordered_map<char32_t, std::optional<std::string>> encoded_;
};

// The code point of the UTF-8 sequence at `text[at]` and its length; the text must be valid.
std::pair<char32_t, size_t> DecodeUtf8(std::string_view text, size_t at);
