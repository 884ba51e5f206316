#pragma once
// Routes the texts Qt itself shows (message box buttons, file dialog labels) through the
// resource-string domains of the translation layer.

#include <QTranslator>

class TTranslationInstance;

class THook : public QTranslator {
 public:
  THook(TTranslationInstance& instance, QObject* parent);
  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override;
  bool isEmpty() const override { return false; }

 private:
  TTranslationInstance& instance_;
};

// Installs a THook owned by `application`; it is removed again when the application goes.
void InstallBuiltInTextRouter(TTranslationInstance& instance, QObject* application);
