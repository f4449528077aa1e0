#pragma once

#include <QLabel>

namespace quillon::ui {

// A one-line label that shortens its text in the middle when it does not fit, keeping the
// start and end of a long path visible. `fullText()` is the text it was given.
class ElidedLabel final : public QLabel {
    Q_OBJECT
  public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
    const QString& fullText() const { return full_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void refresh();
    QString full_;
};

}  // namespace quillon::ui
