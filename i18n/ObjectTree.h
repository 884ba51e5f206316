#pragma once
// The object-tree translation: a form, its owned components and the objects its properties name,
// translated in place. It walks widgets, so it lives in the translation's widgets library; the
// rules it follows (TranslateIgnore and the class modes) are kept by the instance.

#include <string>

class QObject;
class TTranslationInstance;

// Translates the tree under `root` in `domain` (empty: the instance's current domain). The names
// given to TranslateIgnore are forgotten afterwards, also when the translation fails.
void TranslateObjectTree(TTranslationInstance& instance, QObject* root, const std::string& domain);
// The same with the process-wide instance.
void TranslateObjectTree(QObject* root, const std::string& domain = std::string());
