#pragma once
// Run-time translation of user-visible texts from GNU gettext catalogues.

#include <string>

class QObject;

std::string Translate(const std::string& text);
std::string TranslateInDomain(const std::string& domain, const std::string& text);
void AddResourceStringDomain(const std::string& domain);
// Skips the owned component `name` (or ".Property" of the root) in the next TranslateObjectTree.
void TranslateIgnore(QObject* root, const std::string& name);
void TranslateObjectTree(QObject* root, const std::string& domain = std::string());
