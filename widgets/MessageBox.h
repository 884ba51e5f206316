#pragma once
// Message boxes with a text, a title, an icon and a single OK button, and questions answered
// with Yes or No.

#include <QString>

#include <functional>

enum class TMessageIcon { Information, Exclamation };

void ShowMessageBox(const QString& text, const QString& title, TMessageIcon icon);

// Replaces the modal box, so tests can see what the operator would be shown.
extern std::function<void(const QString& text, const QString& title, TMessageIcon icon)> MessageBoxHook;

// True when the operator answers Yes.
bool AskYesNo(const QString& text, const QString& title);

// Replaces the question, so tests can answer it.
extern std::function<bool(const QString& text, const QString& title)> QuestionBoxHook;
