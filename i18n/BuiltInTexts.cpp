#include "BuiltInTexts.h"

#include "TextForms.h"
#include "Translation.h"

#include <QCoreApplication>

THook::THook(TTranslationInstance& instance, QObject* parent) : QTranslator(parent), instance_(instance) {}

// A null result tells Qt to keep its own text. Failures stay here: Qt cannot carry exceptions.
QString THook::translate(const char*, const char* sourceText, const char*, int) const {
  if (!sourceText || !*sourceText) return {};
  try {
    const QString translated = WithQtLineBreaks(instance_.TranslateResourceString(sourceText));
    if (translated == QString::fromUtf8(sourceText)) return {};
    return translated;
  } catch (const std::exception&) {
    return {};
  }
}

void InstallBuiltInTextRouter(TTranslationInstance& instance, QObject* application) {
  if (!application) return;
  QCoreApplication::installTranslator(new THook(instance, application));
}
