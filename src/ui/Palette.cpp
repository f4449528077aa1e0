#include "ui/Palette.h"

#include <QGuiApplication>
#include <QPalette>

namespace quillon::ui {

namespace {

struct Pair {
    QColor light;
    QColor dark;
};

Pair pairFor(NamedColor name) {
    switch (name) {
        case NamedColor::systemBlue:
            return {QColor(0, 122, 255), QColor(10, 132, 255)};
        case NamedColor::systemRed:
            return {QColor(255, 59, 48), QColor(255, 69, 58)};
        case NamedColor::systemGreen:
            return {QColor(40, 205, 65), QColor(50, 215, 75)};
        case NamedColor::systemOrange:
            return {QColor(255, 149, 0), QColor(255, 159, 10)};
        case NamedColor::label:
            return {QColor(0, 0, 0, 217), QColor(255, 255, 255, 217)};
        case NamedColor::secondaryLabel:
            return {QColor(0, 0, 0, 128), QColor(255, 255, 255, 140)};
        case NamedColor::separator:
            return {QColor(0, 0, 0, 26), QColor(255, 255, 255, 26)};
        case NamedColor::controlBackground:
            return {QColor(255, 255, 255), QColor(30, 30, 30)};
        case NamedColor::windowBackground:
            return {QColor(236, 236, 236), QColor(50, 50, 50)};
    }
    return {QColor(Qt::black), QColor(Qt::white)};
}

}  // namespace

QColor namedColor(NamedColor name, Appearance appearance) {
    const Pair pair = pairFor(name);
    return appearance == Appearance::dark ? pair.dark : pair.light;
}

QColor namedColor(NamedColor name, Appearance appearance, double alpha) {
    QColor color = namedColor(name, appearance);
    color.setAlphaF(static_cast<float>(color.alphaF() * alpha));
    return color;
}

Appearance currentAppearance() {
    const QByteArray forced = qgetenv("QUILLON_APPEARANCE");
    if (forced == "dark") {
        return Appearance::dark;
    }
    if (forced == "light") {
        return Appearance::light;
    }
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    return window.lightness() < 128 ? Appearance::dark : Appearance::light;
}

QFont systemFont(int size, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(size);
    font.setWeight(weight);
    return font;
}

QString styleColor(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

}  // namespace quillon::ui
