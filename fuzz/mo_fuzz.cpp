// A .mo catalogue from arbitrary bytes: it is refused with the one message, or every lookup reads
// inside the file. The bytes sit in a buffer of exactly their size, so a read past the end is caught.

#include "MoCatalogue.h"
#include "TranslationError.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
const std::string kPath = "locale/pl/LC_MESSAGES/cport.mo";

void ExpectInside(std::string_view text, const uint8_t* data, size_t size) {
  const auto* begin = reinterpret_cast<const uint8_t*>(text.data());
  if (!text.empty() && (begin < data || begin + text.size() > data + size)) std::abort();
  volatile unsigned sum = 0;
  for (const char c : text) sum = sum + static_cast<unsigned char>(c);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<TMoCatalogue> catalogue;
  try {
    catalogue = TMoCatalogue::Read(data, size, kPath);
  } catch (const ETranslationError& error) {
    if (error.what() != "This file is not a valid GNU gettext mo file: " + kPath) std::abort();
    return 0;
  }
  // Keys taken from the input itself reach the identifiers it holds more often than made-up ones.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const std::string_view key : {std::string_view(), std::string_view("Apply"), std::string_view("Cancel"),
                                     bytes.substr(size / 2, 8), bytes.substr(size - size / 4)}) {
    if (const auto found = catalogue->Find(key)) ExpectInside(*found, data, size);
  }
  return 0;
}
