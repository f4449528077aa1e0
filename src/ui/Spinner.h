#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

namespace quillon::ui {

// An indeterminate progress spinner: twelve spokes whose brightness turns around the centre.
// Not displayed while stopped. Main thread only.
class Spinner final : public QWidget {
    Q_OBJECT
  public:
    enum class Size { small = 16, large = 32 };

    explicit Spinner(Size size, QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return timer_.isActive(); }
    void setColor(const QColor& color);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer timer_;
    int step_ = 0;
    int extent_;
    QColor color_;
};

}  // namespace quillon::ui
