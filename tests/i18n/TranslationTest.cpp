#include "CatalogueFixture.h"
#include "Global.h"
#include "LanguageCode.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {
// Units translate their texts while static objects are built, before main() runs.
const std::string kTranslatedDuringStaticInit = [] {
  AddResourceStringDomain("cport");
  return Translate("Registry error\n");
}();

TEST(i18n_ProcessInstance, WorksDuringStaticInitialisationBesideTheExecutable) {
  EXPECT_EQ(kTranslatedDuringStaticInit, "Registry error\r\n");
  EXPECT_EQ(TranslationInstance().BaseDirectory(), ExecutableDirectory() + "locale");
  EXPECT_EQ(TranslateResourceString("Unknown text"), "Unknown text");
}

// ---------------------------------------------------------------- language code

TEST(i18n_LanguageCode, LangWinsAndLosesEverythingFromTheFirstDot) {
  EXPECT_EQ(ChooseLanguageCode({"de_DE.UTF-8", "pl", "PL", 1045}), "de_DE");
  EXPECT_EQ(ChooseLanguageCode({"C.UTF-8.x", "", "", 0}), "C");
  EXPECT_EQ(ChooseLanguageCode({"sr_RS@latin", "", "", 0}), "sr_RS@latin");
}

TEST(i18n_LanguageCode, UserLocaleNeedsTwoLettersEach) {
  EXPECT_EQ(ChooseLanguageCode({"", "pl", "PL", 0}), "pl_PL");
  EXPECT_EQ(ChooseLanguageCode({"", "ast", "ES", 1031}), "de_DE");
  EXPECT_EQ(ChooseLanguageCode({"", "pl", "", 2057}), "en_UK");
  EXPECT_EQ(ChooseLanguageCode({"", "", "", 0}), "C");
}

TEST(i18n_LanguageCode, LocaleNumbersFollowTheTable) {
  EXPECT_EQ(LocaleNumberOf("pl_PL.UTF-8"), 1045u);
  EXPECT_EQ(LocaleNumberOf("el_GR"), 1032u);
  EXPECT_EQ(LocaleNumberOf("sv_FI@euro"), 2077u);
  EXPECT_EQ(LocaleNumberOf("C"), 0u);
  EXPECT_EQ(LanguageCodeOfLocaleNumber(1032), "gr_GR");
  EXPECT_EQ(LanguageCodeOfLocaleNumber(3082), "es_ES");
  EXPECT_EQ(LanguageCodeOfLocaleNumber(4103), "de_LU");
  EXPECT_EQ(LanguageCodeOfLocaleNumber(1041), "C");
}

TEST(i18n_LanguageCode, PolishUserLocaleWithoutLang) {
  const std::string savedLang = std::getenv("LANG") ? std::getenv("LANG") : "";
  const std::string savedAll = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
  ::unsetenv("LANG");
  ::setenv("LC_ALL", "pl_PL.UTF-8", 1);
  EXPECT_EQ(ChooseLanguageCode(SystemLocaleFacts()), "pl_PL");
  ::setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(ChooseLanguageCode(SystemLocaleFacts()), "de_DE");
  ::setenv("LANG", savedLang.c_str(), 1);
  ::setenv("LC_ALL", savedAll.c_str(), 1);
}

// ---------------------------------------------------------------- catalogue location

using i18n_Catalogue = TCatalogueTest;

TEST_F(i18n_Catalogue, NoLocaleDirectoryKeepsEveryTextAndNeverSearchesAgain) {
  TTranslationInstance& translation = Instance();
  EXPECT_EQ(translation.TranslateInDomain("cport", "Port:"), "Port:");
  WriteCatalogue("de_DE", "cport", {{"Port:", "Anschluss:"}});
  EXPECT_EQ(translation.TranslateInDomain("cport", "Port:"), "Port:");
}

TEST_F(i18n_Catalogue, FullLanguageCodeIsTriedBeforeTheTwoLetterOne) {
  WriteCatalogue("de", "cport", {{"Port:", "Schnittstelle:"}});
  WriteCatalogue("de_DE", "cport", {{"Port:", "Anschluss:"}});
  EXPECT_EQ(Instance("de_DE").TranslateInDomain("cport", "Port:"), "Anschluss:");
  EXPECT_EQ(Instance("de_AT").TranslateInDomain("cport", "Port:"), "Schnittstelle:");
}

TEST_F(i18n_Catalogue, TwoLetterFallbackServesTheFullCode) {
  WriteCatalogue("pl", "cport", {{"Parity:", "Parzystość:"}});
  TTranslationInstance& translation = Instance("pl_PL");
  EXPECT_EQ(translation.TranslateInDomain("cport", "Parity:"), "Parzystość:");
  EXPECT_EQ(translation.Translate("Parity:"), "Parity:") << "the default domain has no catalogue";
}

TEST_F(i18n_Catalogue, BaseDirectoriesAreSearchedInOrder) {
  WriteCatalogue("pl", "cport", {{"Port:", "Port (obok):"}});
  std::filesystem::create_directories(dir.File("share/pl_PL/LC_MESSAGES"));
  dir.Write("share/pl_PL/LC_MESSAGES/cport.mo", TMoBuilder::Build({{"Port:", "Port (zainstalowany):"}}));
  dir.Write("share/pl_PL/LC_MESSAGES/default.mo", TMoBuilder::Build({{"Parity:", "Parzystość:"}}));
  TTranslationInstance translation(std::vector<std::string>{dir.File("locale"), dir.File("share")}, "pl_PL");
  EXPECT_EQ(translation.TranslateInDomain("cport", "Port:"), "Port (obok):")
      << "the catalogue beside the executable wins, also through the two-letter code";
  EXPECT_EQ(translation.Translate("Parity:"), "Parzystość:") << "a domain missing beside it is found installed";
}

// ---------------------------------------------------------------- keys and line breaks

TEST_F(i18n_Catalogue, CrLfKeysAreLookedUpWithLfAndComeBackWithCrLf) {
  WriteCatalogue("de", "default", {{"one\ntwo", "eins\nzwei"}, {"mixed", "a\r\nb\nc"}});
  TTranslationInstance& translation = Instance();
  EXPECT_EQ(translation.Translate("one\r\ntwo"), "eins\r\nzwei");
  EXPECT_EQ(translation.Translate("one\ntwo"), "eins\r\nzwei");
  EXPECT_EQ(translation.Translate("mixed"), "a\r\nb\r\nc");
}

TEST_F(i18n_Catalogue, LineBreaksAreNormalisedWithoutACatalogue) {
  TTranslationInstance& translation = Instance();
  EXPECT_EQ(translation.Translate("a\nb\rc\r\n"), "a\r\nbc\r\n");
  EXPECT_EQ(translation.Translate("\n"), "\r\n");
}

TEST_F(i18n_Catalogue, EmptyTextAndEmptyTranslationsStayUntranslated) {
  WriteCatalogue("de", "default", {{"", "Project-Id-Version: x\n"}, {"Open", ""}});
  TTranslationInstance& translation = Instance();
  EXPECT_EQ(translation.Translate(""), "");
  EXPECT_EQ(translation.Translate("Open"), "Open");
}

TEST_F(i18n_Catalogue, InvalidUtf8TranslationFails) {
  WriteCatalogue("de", "default", {{"Open", "\xC3("}, {"Save", "\xED\xA0\x80"}, {"Close", "Schlie\xC3\x9F" "en"}});
  TTranslationInstance& translation = Instance();
  EXPECT_EQ(translation.Translate("Close"), "Schließen");
  for (const char* text : {"Open", "Save"}) {
    try {
      translation.Translate(text);
      ADD_FAILURE() << text;
    } catch (const ETranslationError& error) {
      EXPECT_EQ(std::string(error.what()), std::string("Error: Could not translate ") + text +
                                               ". Probably because the mo file doesn't contain utf-8 encoded "
                                               "translations.");
    }
  }
}

TEST_F(i18n_Catalogue, BothByteOrdersAreRead) {
  const std::vector<TMoEntry> entries = {{"Apply", "Anwenden"}, {"Cancel", "Abbrechen"}, {"Port:", "Anschluss:"}};
  WriteCatalogue("de", "default", TMoBuilder::Build(entries, {.Swapped = true}));
  WriteCatalogue("de", "cport", TMoBuilder::Build(entries));
  TTranslationInstance& translation = Instance();
  for (const TMoEntry& entry : entries) {
    EXPECT_EQ(translation.Translate(entry.Id), entry.Text);
    EXPECT_EQ(translation.TranslateInDomain("cport", entry.Id), entry.Text);
  }
  EXPECT_EQ(translation.Translate("Missing"), "Missing");
}

// ---------------------------------------------------------------- broken catalogues

std::string NotACatalogue(const std::string& path) { return "This file is not a valid GNU gettext mo file: " + path; }

void ExpectFailure(TTranslationInstance& translation, const std::string& message) {
  try {
    translation.Translate("Apply");
    ADD_FAILURE() << "no failure, expected: " << message;
  } catch (const ETranslationError& error) {
    EXPECT_EQ(error.what(), message);
  }
  EXPECT_EQ(translation.Translate("Apply"), "Apply") << "a failed catalogue translates nothing afterwards";
}

TEST_F(i18n_Catalogue, WrongMagicNumberFailsAtTheFirstLookupOnly) {
  std::string bytes = TMoBuilder::Build({{"Apply", "Anwenden"}});
  TMoBuilder::Patch(bytes, 0, 0x12345678);
  const std::string path = WriteCatalogue("de", "default", bytes);
  ExpectFailure(Instance(), NotACatalogue(path));
}

TEST_F(i18n_Catalogue, EmptyFileOrFifoCannotBeMapped) {
  const std::string path = WriteCatalogue("de", "default", std::string());
  ExpectFailure(Instance(), "Cannot create memory map on file " + path);
  std::filesystem::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  ExpectFailure(Instance(), "Cannot create memory map on file " + path);
}

struct TCorruption {
  const char* name;
  size_t offset;  // the word to overwrite; SIZE_MAX truncates instead
  uint32_t word;
};

class i18n_BrokenCatalogue : public TCatalogueTest, public ::testing::WithParamInterface<TCorruption> {};

TEST_P(i18n_BrokenCatalogue, IsNotAValidCatalogue) {
  std::string bytes = TMoBuilder::Build({{"Apply", "Anwenden"}, {"Cancel", "Abbrechen"}});
  if (GetParam().offset == SIZE_MAX)
    bytes.resize(GetParam().word);
  else
    TMoBuilder::Patch(bytes, GetParam().offset, GetParam().word);
  ExpectFailure(Instance(), NotACatalogue(WriteCatalogue("de", "default", bytes)));
}

// Entries start at 28 (identifiers) and 44 (translations); each is a length, then an offset.
INSTANTIATE_TEST_SUITE_P(
    i18n_, i18n_BrokenCatalogue,
    ::testing::Values(TCorruption{"ShortHeader", SIZE_MAX, 12}, TCorruption{"TablesCutOff", SIZE_MAX, 40},
                      TCorruption{"HugeCount", 8, 0x20000000}, TCorruption{"CountOverflow", 8, 0xFFFFFFFF},
                      TCorruption{"IdTableOutside", 12, 0xFFFFFFF0}, TCorruption{"TextTableOutside", 16, 4096},
                      TCorruption{"IdOffsetOutside", 32, 0x7FFFFFFF}, TCorruption{"TextLengthOutside", 44, 4096},
                      TCorruption{"LengthPlusOffsetWraps", 52, 0xFFFFFFFF}),
    [](const ::testing::TestParamInfo<TCorruption>& info) { return std::string(info.param.name); });

TEST_F(i18n_Catalogue, UnsortedIdentifiersNeverLoopOrCrash) {
  std::vector<TMoEntry> entries;
  for (int i = 0; i < 200; ++i) entries.push_back({std::to_string((i * 7919) % 1000), "t" + std::to_string(i)});
  WriteCatalogue("de", "default", TMoBuilder::Build(entries, {.Sorted = false}));
  TTranslationInstance& translation = Instance();
  for (int i = 0; i < 1000; ++i) {
    const std::string text = std::to_string(i);
    const std::string result = translation.Translate(text);
    EXPECT_TRUE(result == text || result.starts_with("t")) << result;
  }
}

TEST_F(i18n_Catalogue, CatalogueWithoutStringsTranslatesNothing) {
  WriteCatalogue("de", "default", std::vector<TMoEntry>{});
  EXPECT_EQ(Instance().Translate("Apply"), "Apply");
}

// ---------------------------------------------------------------- built-in texts

TEST_F(i18n_Catalogue, BuiltInTextTranslatedInDefaultIsNotLookedUpInCport) {
  AddResourceStringDomain("cport");
  WriteCatalogue("de", "default", {{"OK", "Jawohl"}});
  std::string broken = TMoBuilder::Build({{"OK", "Gut"}, {"Apply", "Anwenden"}});
  TMoBuilder::Patch(broken, 0, 0);
  const std::string cport = WriteCatalogue("de", "cport", broken);
  TTranslationInstance& translation = Instance();
  EXPECT_EQ(translation.TranslateResourceString("OK"), "Jawohl");
  try {
    translation.TranslateResourceString("Apply");
    ADD_FAILURE() << "a text missing in default is looked up in cport";
  } catch (const ETranslationError& error) {
    EXPECT_EQ(error.what(), NotACatalogue(cport));
  }
}

TEST_F(i18n_Catalogue, BuiltInTextMissingInDefaultComesFromCport) {
  AddResourceStringDomain("cport");
  WriteCatalogue("de", "default", {{"OK", "Jawohl"}});
  WriteCatalogue("de", "cport", {{"OK", "Gut"}, {"Apply", "Anwenden"}});
  TTranslationInstance& translation = Instance();
  EXPECT_EQ(translation.TranslateResourceString("Apply"), "Anwenden");
  EXPECT_EQ(translation.TranslateResourceString("Unknown"), "Unknown");
}

// ---------------------------------------------------------------- threads

TEST_F(i18n_Catalogue, ConcurrentLookupsWhileTheDomainOpens) {
  std::vector<TMoEntry> entries;
  for (int i = 0; i < 500; ++i) entries.push_back({"text " + std::to_string(i), "Text " + std::to_string(i)});
  WriteCatalogue("de", "cport", entries);
  TTranslationInstance& translation = Instance();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        const int n = (i + t * 61) % 500;
        if (translation.TranslateInDomain("cport", "text " + std::to_string(n)) != "Text " + std::to_string(n)) ++wrong;
        if (translation.TranslateResourceString("Unknown") != "Unknown") ++wrong;
      }
    });
  }
  threads.emplace_back([] {
    for (int i = 0; i < 100; ++i) AddResourceStringDomain("cport");
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(i18n_Catalogue, BrokenCatalogueFailsForExactlyOneOfManyThreads) {
  std::string bytes = TMoBuilder::Build({{"Apply", "Anwenden"}});
  TMoBuilder::Patch(bytes, 0, 1);
  WriteCatalogue("de", "default", bytes);
  TTranslationInstance& translation = Instance();
  std::atomic<int> failures{0};
  std::atomic<int> untranslated{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      try {
        if (translation.Translate("Apply") == "Apply") ++untranslated;
      } catch (const ETranslationError&) {
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 1);
  EXPECT_EQ(untranslated.load(), 7);
}
}  // namespace
