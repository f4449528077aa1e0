#include "ui/ProjectCard.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "platform/RelativeDate.h"
#include "ui/ElidedLabel.h"

namespace quillon::ui {

namespace {

constexpr int kCardWidth = 700;

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(styleColor(color)));
    return label;
}

void styleElided(QLabel* label, const QFont& font, const QColor& color) {
    label->setFont(font);
    label->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(styleColor(color)));
}

}  // namespace

CardState cardState(const monitor::ProjectMonitor& monitor, Appearance appearance,
                    std::chrono::system_clock::time_point now) {
    CardState state;
    if (monitor.isScanning) {
        state.statusText = QStringLiteral("Scanning");
        state.statusColor = NamedColor::systemBlue;
        state.background = namedColor(NamedColor::systemBlue, appearance, 0.1);
        state.border = namedColor(NamedColor::systemBlue, appearance, 0.25);
    } else if (monitor.isInfected) {
        state.statusText = QStringLiteral("Threat Detected");
        state.statusColor = NamedColor::systemRed;
        state.background = namedColor(NamedColor::systemRed, appearance, 0.12);
        state.border = namedColor(NamedColor::systemRed, appearance, 0.25);
    } else {
        state.statusText = QStringLiteral("Protected");
        state.statusColor = NamedColor::systemGreen;
        state.background = namedColor(NamedColor::controlBackground, appearance);
        state.border = namedColor(NamedColor::separator, appearance, 0.3);
    }
    state.lastScanText =
        monitor.lastScanDate
            ? QStringLiteral("Last scanned ") +
                  QString::fromStdString(platform::relativePhrase(*monitor.lastScanDate, now))
            : QStringLiteral("Waiting for initial scan...");
    return state;
}

ProjectCard::ProjectCard(const monitor::ProjectMonitor& monitor, Appearance appearance,
                         std::chrono::system_clock::time_point now, const QString& reason,
                         QWidget* parent)
    : QFrame(parent), state_(cardState(monitor, appearance, now)) {
    setObjectName(QStringLiteral("projectCard"));
    setFixedWidth(kCardWidth);
    // As high as its lines: a long list scrolls rather than squeezing the cards.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    // The focus ring replaces the border's colour, so the card keeps its size.
    setStyleSheet(QStringLiteral("QFrame#projectCard { background: %1; border: 1px solid %2; "
                                 "border-radius: 16px; }"
                                 "QFrame#projectCard:focus { border: 1px solid %3; }")
                      .arg(styleColor(state_.background), styleColor(state_.border),
                           styleColor(namedColor(NamedColor::systemBlue, appearance))));
    const QString name = QString::fromStdString(monitor.url.lastPathComponent());
    setAccessibleName(QStringLiteral("%1, %2").arg(name, state_.statusText));

    const QColor statusColor = namedColor(state_.statusColor, appearance);
    statusDot_ = new QWidget(this);
    statusDot_->setFixedSize(10, 10);
    statusDot_->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 5px;").arg(styleColor(statusColor)));
    statusLabel_ = makeLabel(state_.statusText, systemFont(12, QFont::DemiBold), statusColor, this);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    statusRow->addWidget(statusDot_, 0, Qt::AlignVCenter);
    statusRow->addWidget(statusLabel_, 0, Qt::AlignVCenter);
    statusRow->addStretch(1);

    nameLabel_ = new ElidedLabel(QString::fromStdString(monitor.url.lastPathComponent()), this);
    styleElided(nameLabel_, systemFont(16, QFont::DemiBold),
                namedColor(NamedColor::label, appearance));
    pathLabel_ = new ElidedLabel(QString::fromStdString(monitor.url.path()), this);
    styleElided(pathLabel_, systemFont(11), namedColor(NamedColor::secondaryLabel, appearance));
    lastScanLabel_ = makeLabel(state_.lastScanText, systemFont(11),
                               namedColor(NamedColor::secondaryLabel, appearance), this);
    const bool threat = !monitor.isScanning && monitor.isInfected;
    if (threat && !reason.isEmpty()) {
        reasonLabel_ = new ElidedLabel(reason, this);
        reasonLabel_->setObjectName(QStringLiteral("reasonLabel"));
        styleElided(reasonLabel_, systemFont(12, QFont::Medium),
                    namedColor(NamedColor::systemRed, appearance));
    }
    setAccessibleDescription(QStringList{QString::fromStdString(monitor.url.path()),
                                         threat ? reason : QString(), state_.lastScanText}
                                 .filter(QRegularExpression(QStringLiteral(".")))
                                 .join(QStringLiteral(". ")));

    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(16, 16, 16, 16);
    content->setSpacing(6);
    content->addLayout(statusRow);
    content->addWidget(nameLabel_);
    content->addWidget(pathLabel_);
    if (reasonLabel_ != nullptr) {
        content->addWidget(reasonLabel_);
    }
    content->addWidget(lastScanLabel_);
    // Resolve the style sheets now, so the first layout already sees the final fonts.
    ensurePolished();
}

void ProjectCard::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit detailsRequested();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

void ProjectCard::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            emit detailsRequested();
            return;
        case Qt::Key_Delete:
            emit removeRequested();
            return;
        default:
            QFrame::keyPressEvent(event);
    }
}

void ProjectCard::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("Show details"), this, &ProjectCard::detailsRequested);
    menu.addAction(tr("Rescan now"), this, &ProjectCard::rescanRequested);
    menu.addSeparator();
    menu.addAction(tr("Remove Project\u2026"), this, &ProjectCard::removeRequested);
    menu.exec(event->globalPos());
}

EmptyStateCard::EmptyStateCard(Appearance appearance, QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("emptyCard"));
    setFixedSize(kCardWidth, 160);
    setStyleSheet(QStringLiteral("QFrame#emptyCard { background: %1; border: none; "
                                 "border-radius: 16px; }")
                      .arg(styleColor(namedColor(NamedColor::controlBackground, appearance))));
    title_ = makeLabel(QStringLiteral("No monitored projects"), systemFont(16, QFont::DemiBold),
                       namedColor(NamedColor::label, appearance), this);
    message_ = makeLabel(QStringLiteral("Add an Xcode project to begin background monitoring."),
                         systemFont(13), namedColor(NamedColor::secondaryLabel, appearance), this);
    title_->setAlignment(Qt::AlignCenter);
    message_->setAlignment(Qt::AlignCenter);
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(6);
    stack->addStretch(1);
    stack->addWidget(title_, 0, Qt::AlignHCenter);
    stack->addWidget(message_, 0, Qt::AlignHCenter);
    stack->addStretch(1);
}

}  // namespace quillon::ui
