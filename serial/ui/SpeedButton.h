#pragma once
// Flat buttons with a small drawn picture beside the caption, as the dialogs use them.

#include <QRect>
#include <QString>

class QToolButton;
class QWidget;

enum class TGlyph { Apply, Cancel, Advanced };

QToolButton* NewSpeedButton(QWidget* parent, const QString& name, const QString& caption, const QString& hint,
                            TGlyph glyph, const QRect& geometry);
