#include "LanguageCode.h"

#include <clocale>
#include <cstdlib>
#include <utility>

namespace {
struct TLocaleEntry {
  uint32_t Number;
  const char* Code;
};

constexpr TLocaleEntry kCodesByNumber[] = {
    {1030, "da_DK"}, {1031, "de_DE"}, {1032, "gr_GR"}, {1033, "en_US"}, {1034, "es_ES"}, {1035, "fi_FI"},
    {1036, "fr_FR"}, {1039, "is_IS"}, {1040, "it_IT"}, {1042, "ko_KO"}, {1043, "nl_NL"}, {1044, "no_NO"},
    {1045, "pl_PL"}, {1046, "pt_BR"}, {1049, "ru_RU"}, {1053, "sv_SE"}, {2057, "en_UK"}, {2060, "fr_BE"},
    {2067, "nl_BE"}, {2068, "nn_NO"}, {2070, "pt_PT"}, {2077, "fi_SE"}, {3082, "es_ES"}, {3084, "fr_CA"},
    {4103, "de_LU"},
};

// C library names of the same locales; where the table's code is not the ISO one, the ISO name maps here.
constexpr std::pair<const char*, uint32_t> kNumbersByName[] = {
    {"da_DK", 1030}, {"de_DE", 1031}, {"el_GR", 1032}, {"en_US", 1033}, {"es_ES", 1034}, {"fi_FI", 1035},
    {"fr_FR", 1036}, {"is_IS", 1039}, {"it_IT", 1040}, {"ko_KR", 1042}, {"nl_NL", 1043}, {"nb_NO", 1044},
    {"no_NO", 1044}, {"pl_PL", 1045}, {"pt_BR", 1046}, {"ru_RU", 1049}, {"sv_SE", 1053}, {"en_GB", 2057},
    {"fr_BE", 2060}, {"nl_BE", 2067}, {"nn_NO", 2068}, {"pt_PT", 2070}, {"sv_FI", 2077}, {"fr_CA", 3084},
    {"de_LU", 4103},
};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// "pl_PL.UTF-8@euro" -> "pl_PL"
std::string_view WithoutCodesetAndModifier(std::string_view name) { return name.substr(0, name.find_first_of(".@")); }

bool IsTwoLetters(std::string_view text) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  return text.size() == 2 && letter(text[0]) && letter(text[1]);
}

// The locale the user chose for messages when "LANG" says nothing.
std::string UserLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES"}) {
    std::string value = Environment(variable);
    if (!value.empty()) return value;
  }
  return "";
}
}  // namespace

uint32_t LocaleNumberOf(std::string_view localeName) {
  const std::string_view name = WithoutCodesetAndModifier(localeName);
  for (const auto& [entryName, number] : kNumbersByName)
    if (name == entryName) return number;
  return 0;
}

std::string LanguageCodeOfLocaleNumber(uint32_t number) {
  for (const TLocaleEntry& entry : kCodesByNumber)
    if (entry.Number == number) return entry.Code;
  return "C";
}

TLocaleFacts SystemLocaleFacts() {
  TLocaleFacts facts;
  facts.LangVariable = Environment("LANG");
  const std::string userLocale = UserLocaleName();
  const std::string_view user = WithoutCodesetAndModifier(userLocale);
  const size_t separator = user.find('_');
  if (separator != std::string_view::npos) {
    facts.UserLanguage = user.substr(0, separator);
    facts.UserCountry = user.substr(separator + 1);
  }
  const char* current = std::setlocale(LC_MESSAGES, nullptr);
  facts.ThreadLocaleNumber = LocaleNumberOf(current ? current : "");
  return facts;
}

std::string ChooseLanguageCode(const TLocaleFacts& facts) {
  std::string code;
  if (!facts.LangVariable.empty())
    code = facts.LangVariable;
  else if (IsTwoLetters(facts.UserLanguage) && IsTwoLetters(facts.UserCountry))
    code = facts.UserLanguage + "_" + facts.UserCountry;
  else
    code = LanguageCodeOfLocaleNumber(facts.ThreadLocaleNumber);
  return code.substr(0, code.find('.'));
}
