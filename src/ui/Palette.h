#pragma once

#include <QColor>
#include <QFont>

namespace quillon::ui {

// The named system colours of the desktop the application imitates, in its light and dark
// appearance. Values are those of macOS; alpha as the system gives it.
enum class NamedColor {
    systemBlue,
    systemRed,
    systemGreen,
    systemOrange,
    label,
    secondaryLabel,
    separator,
    controlBackground,
    windowBackground,
};

enum class Appearance { light, dark };

QColor namedColor(NamedColor name, Appearance appearance);
// `namedColor` with its alpha multiplied by `alpha`.
QColor namedColor(NamedColor name, Appearance appearance, double alpha);

// The appearance to draw in: QUILLON_APPEARANCE=light|dark if set, otherwise what the
// desktop's palette suggests.
Appearance currentAppearance();

// The system font at `size` points (one point per logical pixel, as on the desktop imitated).
QFont systemFont(int size, QFont::Weight weight = QFont::Normal);

// "rgba(r, g, b, a)" for style sheets.
QString styleColor(const QColor& color);

}  // namespace quillon::ui
