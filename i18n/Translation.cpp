#include "Translation.h"

std::string Translate(const std::string& text) { return text; }
std::string TranslateInDomain(const std::string&, const std::string& text) { return text; }
void AddResourceStringDomain(const std::string&) {}
void TranslateIgnore(QObject*, const std::string&) {}
void TranslateObjectTree(QObject*, const std::string&) {}
