#pragma once
// Message boxes with a text, a title, an icon and a single OK button.

#include <QString>

#include <functional>

enum class TMessageIcon { Information, Exclamation };

void ShowMessageBox(const QString& text, const QString& title, TMessageIcon icon);

// Replaces the modal box, so tests can see what the operator would be shown.
extern std::function<void(const QString& text, const QString& title, TMessageIcon icon)> MessageBoxHook;
