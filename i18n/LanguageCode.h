#pragma once
// The language code that selects the catalogues, chosen once at start-up.

#include <cstdint>
#include <string>
#include <string_view>

// What the system says about the user's language, gathered so the choice can be tested.
struct TLocaleFacts {
  std::string LangVariable;   // the environment variable "LANG"
  std::string UserLanguage;   // ISO 639 code of the user's locale
  std::string UserCountry;    // ISO 3166 code of the user's locale
  uint32_t ThreadLocaleNumber = 0;
};

TLocaleFacts SystemLocaleFacts();
std::string ChooseLanguageCode(const TLocaleFacts& facts);

// The Windows locale number of a C library locale name such as "pl_PL.UTF-8"; 0 when unknown.
uint32_t LocaleNumberOf(std::string_view localeName);
// The language code for a locale number; "C" for numbers outside the table.
std::string LanguageCodeOfLocaleNumber(uint32_t number);
