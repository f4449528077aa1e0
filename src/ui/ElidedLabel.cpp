#include "ui/ElidedLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>

namespace quillon::ui {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent), full_(text) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    refresh();
}

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(full_) + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

QSize ElidedLabel::minimumSizeHint() const {
    return QSize(0, sizeHint().height());
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        refresh();
    }
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refresh();
}

void ElidedLabel::refresh() {
    const int available = width() > 0 ? width() : 10000;
    setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, available));
    setToolTip(full_);
}

}  // namespace quillon::ui
