#include "ui/ViewController.h"

#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <thread>

#include "ui/Spinner.h"

namespace quillon::ui {

namespace {

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(styleColor(color)));
    return label;
}

}  // namespace

ViewController::ViewController(monitor::FolderChooser& chooser,
                               std::shared_ptr<monitor::MainQueue> mainQueue, ProjectScan scan,
                               QWidget* parent)
    : QWidget(parent),
      chooser_(chooser),
      mainQueue_(std::move(mainQueue)),
      scan_(std::move(scan)),
      appearance_(currentAppearance()) {
    const QColor secondary = namedColor(NamedColor::secondaryLabel, appearance_);
    titleLabel_ = makeLabel(QStringLiteral("Quillon"), systemFont(28, QFont::Bold),
                            namedColor(NamedColor::label, appearance_), this);
    subtitleLabel_ = makeLabel(
        QStringLiteral("Select your Xcode project to begin monitoring for suspicious activity."),
        systemFont(14), secondary, this);
    selectButton_ = new QPushButton(QStringLiteral("Select Xcode Project"), this);
    selectButton_->setFont(systemFont(14, QFont::Medium));
    // A rounded push button in the system's control colours.
    selectButton_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3; "
                       "border-radius: 6px; padding: 5px 16px; }"
                       "QPushButton:pressed { background: %3; }"
                       "QPushButton:disabled { color: %4; }")
            .arg(styleColor(namedColor(NamedColor::controlBackground, appearance_)),
                 styleColor(namedColor(NamedColor::label, appearance_)),
                 styleColor(namedColor(NamedColor::separator, appearance_, 2.0)),
                 styleColor(namedColor(NamedColor::secondaryLabel, appearance_))));
    statusLabel_ =
        makeLabel(QStringLiteral("No project selected yet."), systemFont(12), secondary, this);
    scanningLabel_ = makeLabel(QString(), systemFont(13, QFont::Medium),
                               namedColor(NamedColor::systemBlue, appearance_), this);
    scanningLabel_->hide();
    progressIndicator_ = new Spinner(Spinner::Size::small, this);
    progressIndicator_->setColor(secondary);

    setObjectName(QStringLiteral("singleProjectRoot"));
    setAttribute(Qt::WA_StyledBackground);
    setBackground(namedColor(NamedColor::windowBackground, appearance_));

    auto* column = new QWidget(this);
    column->setMaximumWidth(420);
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    auto* stack = new QVBoxLayout(column);
    stack->setSpacing(12);
    // Labels take the column's width and centre their text, so wrapped lines get their height;
    // the button and the spinner keep their natural size.
    stack->addWidget(titleLabel_);
    stack->addWidget(subtitleLabel_);
    stack->addWidget(selectButton_, 0, Qt::AlignHCenter);
    stack->addWidget(progressIndicator_, 0, Qt::AlignHCenter);
    stack->addWidget(scanningLabel_);
    stack->addWidget(statusLabel_);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(column);
    row->addStretch(1);
    auto* centre = new QVBoxLayout(this);
    centre->addStretch(1);
    centre->addLayout(row);
    centre->addStretch(1);

    connect(selectButton_, &QPushButton::clicked, this, [this] { didTapSelectProject(); });
    setWindowTitle(QStringLiteral("Quillon"));
    resize(560, 420);
}

void ViewController::didTapSelectProject() {
    chooseProjectFolder();
}

void ViewController::chooseProjectFolder() {
    const auto chosen = chooser_.chooseFolder(
        "Select Xcode Project Folder",
        "Choose a folder containing an Xcode project or workspace to monitor.");
    if (!chosen) {
        statusLabel_->setText(QStringLiteral("Selection cancelled."));
        return;
    }
    if (!monitor::containsXcodeProject(*chosen)) {
        statusLabel_->setText(QStringLiteral("No Xcode project found in selected folder."));
        return;
    }
    selectedProjectURL_ = chosen;
    statusLabel_->setText(QStringLiteral("Project loaded: ") +
                          QString::fromStdString(chosen->lastPathComponent()));
    startScan(*chosen);
}

void ViewController::startScan(const platform::FileURL& folder) {
    showScanning(QString::fromStdString(folder.lastPathComponent()));
    QPointer<ViewController> self(this);
    std::thread([self, folder, scan = scan_, queue = mainQueue_] {
        const bool clean = scan(folder);
        queue->post([self, clean] {
            if (!self) {
                return;
            }
            clean ? self->showClean() : self->showThreat();
        });
    }).detach();
}

void ViewController::showScanning(const QString& folderName) {
    setBackground(namedColor(NamedColor::windowBackground, appearance_));
    scanningLabel_->setText(QStringLiteral("Scanning project: ") + folderName + QChar(0x2026));
    scanningLabel_->show();
    progressIndicator_->startAnimation();
    statusLabel_->setText(QStringLiteral("Analyzing build scripts and dependencies..."));
    selectButton_->setEnabled(false);
}

void ViewController::showClean() {
    showVerdict(namedColor(NamedColor::systemGreen, appearance_, 0.15),
                QStringLiteral("No threats detected. Project appears clean."));
}

void ViewController::showThreat() {
    showVerdict(namedColor(NamedColor::systemRed, appearance_, 0.2),
                QStringLiteral("\u26A0\uFE0F Potential malware activity detected in project!"));
}

void ViewController::showVerdict(const QColor& background, const QString& status) {
    setBackground(background);
    scanningLabel_->hide();
    progressIndicator_->stopAnimation();
    statusLabel_->setText(status);
    selectButton_->setEnabled(true);
}

void ViewController::setBackground(const QColor& color) {
    background_ = color;
    // A translucent tint lies over the window background, as a tinted layer would.
    const QColor base = namedColor(NamedColor::windowBackground, appearance_);
    const float alpha = color.alphaF();
    const QColor blended = QColor::fromRgbF(base.redF() * (1 - alpha) + color.redF() * alpha,
                                            base.greenF() * (1 - alpha) + color.greenF() * alpha,
                                            base.blueF() * (1 - alpha) + color.blueF() * alpha);
    setStyleSheet(
        QStringLiteral("QWidget#singleProjectRoot { background: %1; }").arg(styleColor(blended)));
}

}  // namespace quillon::ui
