#include "ui/Spinner.h"

#include <QPainter>

namespace quillon::ui {

namespace {
constexpr int kSpokes = 12;
}

Spinner::Spinner(Size size, QWidget* parent)
    : QWidget(parent), extent_(static_cast<int>(size)), color_(Qt::gray) {
    setFixedSize(extent_, extent_);
    setAttribute(Qt::WA_TranslucentBackground);
    timer_.setInterval(1000 / kSpokes);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % kSpokes;
        update();
    });
    QWidget::setVisible(false);
}

void Spinner::startAnimation() {
    timer_.start();
    show();
}

void Spinner::stopAnimation() {
    timer_.stop();
    hide();
}

void Spinner::setColor(const QColor& color) {
    color_ = color;
    update();
}

QSize Spinner::sizeHint() const {
    return QSize(extent_, extent_);
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double outer = extent_ / 2.0;
    const double inner = outer * 0.45;
    QPen pen(color_);
    pen.setWidthF(extent_ / 11.0);
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The newest spoke is darkest; the others fade behind it.
        const int age = (step_ - i + kSpokes) % kSpokes;
        QColor spoke = color_;
        spoke.setAlphaF(static_cast<float>(1.0 - age * 0.07));
        pen.setColor(spoke);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + pen.widthF()));
        painter.rotate(360.0 / kSpokes);
    }
}

}  // namespace quillon::ui
