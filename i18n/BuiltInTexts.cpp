#include "BuiltInTexts.h"

#include "TextForms.h"
#include "Translation.h"

#include <QCoreApplication>

THook::THook(TTranslationInstance& instance, QObject* parent) : QTranslator(parent), instance_(instance) {}

// A null result tells Qt to keep its own text. Qt cannot carry exceptions, so a broken catalogue
// is left for the next lookup that can show it, and other failures stay here.
QString THook::translate(const char*, const char* sourceText, const char*, int) const {
  if (!sourceText || !*sourceText) return {};
  try {
    const QString translated =
        WithQtLineBreaks(instance_.TranslateResourceString(sourceText, TFailure::LeaveForNextLookup));
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
