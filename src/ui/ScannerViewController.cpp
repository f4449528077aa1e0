#include "ui/ScannerViewController.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QResizeEvent>
#include <QShowEvent>

#include "platform/Log.h"
#include "ui/ProjectCard.h"
#include "ui/Spinner.h"

namespace quillon::ui {

namespace {

QLabel* makeHeaderLabel(const QString& text, const QFont& font, const QColor& color,
                        QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setStyleSheet(
        QStringLiteral("color: %1; background: transparent; border: none;").arg(styleColor(color)));
    return label;
}

QPushButton* makeFilledButton(const QString& title, const QColor& fill, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setFont(systemFont(13, QFont::DemiBold));
    button->setCursor(Qt::PointingHandCursor);
    QColor pressed = fill.darker(115);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none; "
                       "border-radius: 8px; padding: 6px 14px; }"
                       "QPushButton:pressed { background: %2; }")
            .arg(styleColor(fill), styleColor(pressed)));
    return button;
}

QString countText(std::size_t count) {
    return count == 1 ? QStringLiteral("1 Project Monitored")
                      : QStringLiteral("%1 Projects Monitored").arg(count);
}

}  // namespace

ScannerViewController::ScannerViewController(std::shared_ptr<monitor::ProjectRegistry> registry,
                                             std::shared_ptr<monitor::MainQueue> mainQueue,
                                             Options options, QWidget* parent)
    : QWidget(parent),
      registry_(std::move(registry)),
      mainQueue_(std::move(mainQueue)),
      options_(std::move(options)),
      appearance_(currentAppearance()) {
    const QColor secondary = namedColor(NamedColor::secondaryLabel, appearance_);
    titleLabel_ = makeHeaderLabel(QString::fromUtf8(kWindowTitle), systemFont(32, QFont::Bold),
                                  namedColor(NamedColor::label, appearance_), this);
    subtitleLabel_ = makeHeaderLabel(
        QStringLiteral(
            "Monitor your Xcode projects for suspicious build activity and malware indicators."),
        systemFont(13), secondary, this);
    monitoredCountLabel_ = makeHeaderLabel(QStringLiteral("0 Projects Monitored"),
                                           systemFont(12, QFont::Medium), secondary, this);
    addProjectButton_ = makeFilledButton(QStringLiteral("\uFF0B Add Project"),
                                         namedColor(NamedColor::systemBlue, appearance_), this);
    generateSampleButton_ =
        makeFilledButton(QStringLiteral("\U0001F9EA Get Malware Sample"),
                         namedColor(NamedColor::systemOrange, appearance_), this);

    topContainer_ = new QFrame(this);
    topContainer_->setObjectName(QStringLiteral("topContainer"));
    topContainer_->setStyleSheet(
        QStringLiteral("QFrame#topContainer { background: %1; border-radius: 18px; }")
            .arg(styleColor(namedColor(NamedColor::controlBackground, appearance_))));

    dashboardContainer_ = new QWidget;
    dashboardContainer_->setObjectName(QStringLiteral("dashboardContainer"));
    dashboardContainer_->setStyleSheet(
        QStringLiteral("QWidget#dashboardContainer { background: transparent; }"));
    dashboardLayout_ = new QVBoxLayout(dashboardContainer_);
    dashboardLayout_->setSpacing(12);
    dashboardLayout_->setContentsMargins(0, 4, 0, 12);
    dashboardLayout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The list is never shorter than its cards, so the scroll area scrolls instead of
    // squeezing them.
    dashboardLayout_->setSizeConstraint(QLayout::SetMinimumSize);

    scrollView_ = new QScrollArea(this);
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollView_->setWidgetResizable(true);
    // A slim scroller in the secondary label colour, as the desktop imitated draws it.
    scrollView_->setStyleSheet(
        QStringLiteral(
            "QScrollArea { background: transparent; }"
            "QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }"
            "QScrollBar::handle:vertical { background: %1; border-radius: 4px; "
            "min-height: 32px; margin: 0 2px; }"
            "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
            "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
            .arg(styleColor(namedColor(NamedColor::secondaryLabel, appearance_, 0.6))));
    scrollView_->viewport()->setAutoFillBackground(false);

    loadingOverlay_ = new QWidget(this);
    loadingOverlay_->setObjectName(QStringLiteral("loadingOverlay"));
    loadingOverlay_->setAttribute(Qt::WA_StyledBackground);
    loadingOverlay_->setStyleSheet(
        QStringLiteral("QWidget#loadingOverlay { background: %1; }")
            .arg(styleColor(namedColor(NamedColor::windowBackground, appearance_, 0.75))));
    loadingOverlay_->hide();
    loadingSpinner_ = new Spinner(Spinner::Size::large, loadingOverlay_);
    loadingSpinner_->setColor(namedColor(NamedColor::secondaryLabel, appearance_));
    loadingSpinner_->startAnimation();  // animated from the start, as the overlay may show at once

    setupUI();
    connect(addProjectButton_, &QPushButton::clicked, this, [this] { didTapAddProject(); });
    setWindowTitle(QString::fromUtf8(kWindowTitle));
    loadingOverlay_->raise();
    registry_->attachDashboard(this);
}

ScannerViewController::~ScannerViewController() {
    registry_->detachDashboard();
}

void ScannerViewController::setupUI() {
    setAttribute(Qt::WA_StyledBackground);
    setObjectName(QStringLiteral("dashboardRoot"));
    setStyleSheet(QStringLiteral("QWidget#dashboardRoot { background: %1; }")
                      .arg(styleColor(namedColor(NamedColor::windowBackground, appearance_))));

    auto* textStack = new QVBoxLayout;
    textStack->setSpacing(4);
    textStack->addWidget(titleLabel_);
    textStack->addWidget(subtitleLabel_);
    textStack->addWidget(monitoredCountLabel_);

    auto* headerRow = new QHBoxLayout(topContainer_);
    headerRow->setContentsMargins(20, 20, 20, 20);
    headerRow->setSpacing(16);
    headerRow->addLayout(textStack);
    headerRow->addWidget(new QWidget(topContainer_), 1);  // the spacer
    headerRow->addWidget(generateSampleButton_, 0, Qt::AlignVCenter);
    headerRow->addWidget(addProjectButton_, 0, Qt::AlignVCenter);
    connect(generateSampleButton_, &QPushButton::clicked, this, [this] { didTapGenerateSample(); });
    addProjectButton_->setFixedSize(140, 38);
    topContainer_->setFixedHeight(110);

    scrollView_->setWidget(dashboardContainer_);
    scrollView_->setMinimumHeight(320);

    auto* mainStack = new QVBoxLayout(this);
    mainStack->setContentsMargins(24, 24, 24, 24);
    mainStack->setSpacing(18);
    mainStack->addWidget(topContainer_);
    mainStack->addWidget(scrollView_, 1);

    rebuildDashboard();
}

QList<QWidget*> ScannerViewController::cards() const {
    QList<QWidget*> out;
    for (int i = 0; i < dashboardLayout_->count(); ++i) {
        if (QWidget* widget = dashboardLayout_->itemAt(i)->widget()) {
            out.append(widget);
        }
    }
    return out;
}

QString ScannerViewController::reasonFor(const monitor::ProjectMonitor& monitor) const {
    const auto open = monitor::openThreats(monitor, registry_->acceptedFingerprints(monitor));
    if (open.empty()) {
        return {};
    }
    return QString::fromStdString(core::defang(monitor::reasonLine(*open.front())));
}

void ScannerViewController::rebuildDashboard() {
    // Cards are built afresh; the keyboard's place among them is kept by project.
    const auto& projects = registry_->projects();
    const QList<QWidget*> oldCards = cards();
    int focused = -1;
    for (int i = 0; i < oldCards.size(); ++i) {
        if (oldCards[i]->hasFocus()) {
            focused = i;
        }
    }
    const monitor::ProjectMonitor* focusedMonitor =
        focused >= 0 && focused < int(focusOrder_.size()) ? focusOrder_[std::size_t(focused)]
                                                          : nullptr;
    while (QLayoutItem* item = dashboardLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    focusOrder_.clear();
    monitoredCountLabel_->setText(countText(projects.size()));
    if (projects.empty()) {
        dashboardLayout_->addWidget(new EmptyStateCard(appearance_, dashboardContainer_));
    } else {
        const auto now = std::chrono::system_clock::now();
        for (const auto& monitor : projects) {
            auto* card = new ProjectCard(*monitor, appearance_, now, reasonFor(*monitor),
                                         dashboardContainer_);
            std::weak_ptr<monitor::ProjectMonitor> weak = monitor;
            connect(card, &ProjectCard::detailsRequested, this, [this, weak] {
                if (auto target = weak.lock()) {
                    showDetails(target);
                }
            });
            connect(card, &ProjectCard::rescanRequested, this, [this, weak] {
                if (auto target = weak.lock()) {
                    registry_->rescan(target);
                }
            });
            connect(card, &ProjectCard::removeRequested, this, [this, weak] {
                if (auto target = weak.lock()) {
                    // After the menu's event has unwound: removal rebuilds, deleting the card.
                    QPointer<ScannerViewController> self(this);
                    mainQueue_->post([self, target] {
                        if (self) {
                            self->removeProject(target);
                        }
                    });
                }
            });
            dashboardLayout_->addWidget(card);
            focusOrder_.push_back(monitor.get());
            if (monitor.get() == focusedMonitor) {
                card->show();  // a hidden widget cannot take the focus
                card->setFocus(Qt::OtherFocusReason);
            }
        }
    }
    // Open details follow their record; those of removed projects close.
    for (auto it = details_.begin(); it != details_.end();) {
        const bool listed = std::any_of(projects.begin(), projects.end(),
                                        [&](const auto& m) { return m.get() == it->first; });
        if (!it->second || !listed) {
            if (it->second) {
                it->second->close();
                it->second->deleteLater();
            }
            it = details_.erase(it);
        } else {
            it->second->refresh();
            ++it;
        }
    }
    static const platform::Logger logger("com.quillon", "Dashboard");
    logger.debug("Dashboard rebuilt with %ld cards", projects.size());
    emit dashboardRebuilt();
}

void ScannerViewController::showDetails(const std::shared_ptr<monitor::ProjectMonitor>& monitor) {
    QPointer<ProjectDetails>& window = details_[monitor.get()];
    if (!window) {
        window = new ProjectDetails(registry_, monitor, appearance_, options_.details, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        window->refresh();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

ProjectDetails* ScannerViewController::details(const monitor::ProjectMonitor& monitor) const {
    const auto found = details_.find(&monitor);
    return found == details_.end() ? nullptr : found->second.data();
}

void ScannerViewController::removeProject(const std::shared_ptr<monitor::ProjectMonitor>& monitor) {
    const QString question =
        tr("Remove “%1” from Quillon? Its monitoring stops; the folder is not touched.")
            .arg(QString::fromStdString(monitor->url.lastPathComponent()));
    const bool confirmed = options_.confirm
                               ? options_.confirm(question)
                               : QMessageBox::question(window(), tr("Remove Project"), question,
                                                       QMessageBox::Yes | QMessageBox::Cancel,
                                                       QMessageBox::Cancel) == QMessageBox::Yes;
    if (confirmed) {
        registry_->removeProject(monitor);
    }
}

void ScannerViewController::setLoading(bool show) {
    QPointer<ScannerViewController> self(this);
    mainQueue_->post([self, show] {
        if (!self) {
            return;
        }
        self->loadingOverlay_->setVisible(show);
        if (show) {
            self->loadingOverlay_->raise();
            self->loadingSpinner_->startAnimation();
        } else {
            self->loadingSpinner_->stopAnimation();
        }
    });
}

void ScannerViewController::didTapAddProject() {
    registry_->addProject();
}

void ScannerViewController::didTapGenerateSample() {
    if (!options_.samplePage.isValid()) {
        return;
    }
    if (options_.openUrl) {
        options_.openUrl(options_.samplePage);
    } else {
        QDesktopServices::openUrl(options_.samplePage);
    }
}

void ScannerViewController::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) {
        return;  // a window coming back from the background is not a new appearance
    }
    if (QWidget* top = window()) {
        top->setWindowTitle(QString::fromUtf8(kWindowTitle));
    }
    appear();
}

void ScannerViewController::appear() {
    setLoading(true);
    QPointer<ScannerViewController> self(this);
    // Restored once: a window reopened from the tray would otherwise get a second monitor, and a
    // second loop, for every stored project.
    const bool restore = !restoreScheduled_;
    restoreScheduled_ = true;
    mainQueue_->postAfter(options_.restoreDelay, [self, restore] {
        if (!self) {
            return;
        }
        if (restore) {
            self->registry_->restoreProjects();
            for (const auto& folder : self->options_.addAfterRestore) {
                self->registry_->addFolder(folder);
            }
        } else {
            self->setLoading(false);
        }
    });
}

void ScannerViewController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    loadingOverlay_->setGeometry(rect());
    const QSize spinner = loadingSpinner_->size();
    loadingSpinner_->move((width() - spinner.width()) / 2, (height() - spinner.height()) / 2);
}

}  // namespace quillon::ui
