#pragma once
// A translation instance over catalogues written into a temporary "locale" directory.

#include "MoBuilder.h"
#include "TempDir.h"
#include "Translation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

class TCatalogueTest : public ::testing::Test {
 protected:
  // Writes locale/<language>/LC_MESSAGES/<domain>.mo and returns its path.
  std::string WriteCatalogue(const std::string& language, const std::string& domain, const std::string& bytes) {
    const std::string directory = dir.File("locale/" + language + "/LC_MESSAGES");
    std::filesystem::create_directories(directory);
    const std::string name = "locale/" + language + "/LC_MESSAGES/" + domain + ".mo";
    dir.Write(name, bytes);
    return dir.File(name);
  }
  std::string WriteCatalogue(const std::string& language, const std::string& domain, std::vector<TMoEntry> entries) {
    return WriteCatalogue(language, domain, TMoBuilder::Build(std::move(entries)));
  }
  TTranslationInstance& Instance(const std::string& language = "de_DE") {
    instance = std::make_unique<TTranslationInstance>(dir.File("locale"), language);
    return *instance;
  }

  TTempDir dir;
  std::unique_ptr<TTranslationInstance> instance;
};
