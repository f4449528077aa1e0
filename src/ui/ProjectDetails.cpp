#include "ui/ProjectDetails.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>
#include <ctime>

#include "platform/RelativeDate.h"
#include "platform/TextEscapes.h"
#include "scan/FindingText.h"

namespace quillon::ui {

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString dateText(std::chrono::system_clock::time_point date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return QString::fromLatin1(text);
}

NamedColor severityColor(core::Severity severity) {
    switch (severity) {
        case core::Severity::critical:
        case core::Severity::high:
            return NamedColor::systemRed;
        case core::Severity::medium:
            return NamedColor::systemOrange;
        case core::Severity::low:
            break;
    }
    return NamedColor::secondaryLabel;
}

QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent,
                  bool selectable = false) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(styleColor(color)));
    if (selectable) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    return label;
}

// A read-only, selectable box in the fixed-pitch font, as high as its text up to 12 lines.
QPlainTextEdit* codeBox(const QString& text, const QString& accessibleName, Appearance appearance,
                        QWidget* parent) {
    auto* box = new QPlainTextEdit(text, parent);
    box->setReadOnly(true);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    box->setAccessibleName(accessibleName);
    box->setObjectName(QStringLiteral("codeBox"));
    box->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; color: %2; border: 1px "
                                      "solid %3; border-radius: 6px; padding: 4px; }")
                           .arg(styleColor(namedColor(NamedColor::windowBackground, appearance)),
                                styleColor(namedColor(NamedColor::label, appearance)),
                                styleColor(namedColor(NamedColor::separator, appearance, 0.6))));
    // As high as the text wraps at the window's usual width, up to 10 lines; longer texts
    // scroll inside the box.
    const QFontMetrics metrics(box->font());
    const int perLine =
        std::max(20, 660 / std::max(1, metrics.horizontalAdvance(QLatin1Char('x'))));
    int lines = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        lines += std::max<int>(1, int((line.size() + perLine - 1) / perLine));
    }
    lines = std::min(lines, 10);
    box->setFixedHeight(lines * metrics.lineSpacing() + 2 * int(box->document()->documentMargin()) +
                        12);
    return box;
}

// People read the text defanged, cut to a size a window can hold, control characters shown.
QString shown(std::string_view text, std::size_t limit = 4000) {
    return qs(platform::showControls(platform::cutUtf8(core::defang(text), limit), true));
}

}  // namespace

std::string whatToDo(const core::Finding& finding) {
    if (!finding.remediation.empty()) {
        return finding.remediation;
    }
    if (finding.ruleId.starts_with("xcodespy")) {
        return "Open the project's build phases and remove every script you did not add; restore " +
               finding.location.file + " from a trusted copy before building again.";
    }
    return "Open " + finding.location.file +
           " and check the lines this rule names. If you did not write them, restore the file "
           "from a trusted copy before building again; if you did, accept the finding.";
}

ProjectDetails::ProjectDetails(std::shared_ptr<monitor::ProjectRegistry> registry,
                               std::shared_ptr<monitor::ProjectMonitor> monitor,
                               Appearance appearance, DetailsActions actions, QWidget* parent)
    : QWidget(parent, Qt::Window),
      registry_(std::move(registry)),
      monitor_(std::move(monitor)),
      appearance_(appearance),
      actions_(std::move(actions)) {
    const QString name = qs(monitor_->url.lastPathComponent());
    setWindowTitle(tr("%1 \u2014 Quillon").arg(name));
    setObjectName(QStringLiteral("detailsRoot"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("QWidget#detailsRoot { background: %1; }")
                      .arg(styleColor(namedColor(NamedColor::windowBackground, appearance_))));
    resize(760, 640);

    title_ = textLabel(name, systemFont(20, QFont::Bold),
                       namedColor(NamedColor::label, appearance_), this);
    path_ = textLabel(qs(monitor_->url.path()), systemFont(11),
                      namedColor(NamedColor::secondaryLabel, appearance_), this, true);
    status_ = textLabel({}, systemFont(13, QFont::DemiBold),
                        namedColor(NamedColor::label, appearance_), this);
    rescan_ = new QPushButton(tr("Rescan now"), this);
    copy_ = new QPushButton(tr("Copy report"), this);
    export_ = new QPushButton(tr("Export baseline\u2026"), this);
    export_->setToolTip(tr("Save the accepted findings as a baseline for quillon-scan --baseline"));
    connect(rescan_, &QPushButton::clicked, this, [this] { registry_->rescan(monitor_); });
    connect(copy_, &QPushButton::clicked, this, [this] {
        if (actions_.copyText) {
            actions_.copyText(reportText());
        } else {
            QApplication::clipboard()->setText(reportText());
        }
    });
    connect(export_, &QPushButton::clicked, this, [this] { exportBaseline(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(rescan_);
    buttons->addWidget(copy_);
    buttons->addWidget(export_);
    buttons->addStretch(1);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    scroll_->viewport()->setAutoFillBackground(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(8);
    layout->addWidget(title_);
    layout->addWidget(path_);
    layout->addWidget(status_);
    layout->addLayout(buttons);
    layout->addWidget(scroll_, 1);
    refresh();
}

QString ProjectDetails::signature() const {
    QString out = monitor_->isScanning ? QStringLiteral("s") : QStringLiteral("-");
    out += monitor_->isInfected ? QStringLiteral("i") : QStringLiteral("-");
    if (monitor_->lastScanDate) {
        out += QString::number(monitor_->lastScanDate->time_since_epoch().count());
    }
    for (const auto& fingerprint : registry_->acceptedFingerprints(*monitor_)) {
        out += QLatin1Char(',') + qs(fingerprint);
    }
    return out;
}

void ProjectDetails::refresh() {
    const QString now = signature();
    if (content_ != nullptr && now == shown_) {
        return;
    }
    shown_ = now;
    rebuild();
}

void ProjectDetails::rebuild() {
    const auto accepted = registry_->acceptedFingerprints(*monitor_);
    const auto open = monitor::openThreats(*monitor_, accepted);
    QString status;
    NamedColor statusColor = NamedColor::label;
    if (monitor_->isScanning) {
        status = tr("Scanning");
        statusColor = NamedColor::systemBlue;
    } else if (!monitor_->lastScanDate) {
        status = tr("Waiting for initial scan...");
        statusColor = NamedColor::secondaryLabel;
    } else if (monitor_->isInfected) {
        status = open.size() == 1 ? tr("Threat Detected: 1 open threat")
                                  : tr("Threat Detected: %1 open threats").arg(open.size());
        statusColor = NamedColor::systemRed;
    } else {
        status = tr("Protected");
        statusColor = NamedColor::systemGreen;
    }
    if (monitor_->lastScanDate) {
        status += QStringLiteral(" \u00b7 ") +
                  tr("last scanned %1")
                      .arg(qs(platform::relativePhrase(*monitor_->lastScanDate,
                                                       std::chrono::system_clock::now())));
    }
    status_->setText(status);
    status_->setStyleSheet(QStringLiteral("color: %1; background: transparent;")
                               .arg(styleColor(namedColor(statusColor, appearance_))));

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("detailsContent"));
    content->setStyleSheet(QStringLiteral("QWidget#detailsContent { background: transparent; }"));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 8, 8, 8);
    column->setSpacing(12);
    const QColor secondary = namedColor(NamedColor::secondaryLabel, appearance_);
    auto heading = [&](const QString& text) {
        column->addWidget(textLabel(text, systemFont(15, QFont::DemiBold),
                                    namedColor(NamedColor::label, appearance_), content));
    };

    std::vector<const core::Finding*> shownFindings;
    for (const auto& finding : monitor_->findings) {
        if (!accepted.contains(finding.fingerprint)) {
            shownFindings.push_back(&finding);
        }
    }
    heading(tr("Findings"));
    if (shownFindings.empty()) {
        column->addWidget(
            textLabel(monitor_->lastScanDate ? tr("Nothing found.") : tr("Not scanned yet."),
                      systemFont(13), secondary, content));
    }
    for (const auto* finding : shownFindings) {
        column->addWidget(makeFindingBox(*finding));
    }

    if (!monitor_->classicFindings.empty()) {
        heading(tr("Classic scanner report"));
        QStringList lines;
        for (const auto& line : monitor_->classicFindings) {
            lines << shown(line, 400);
        }
        column->addWidget(codeBox(lines.join(QLatin1Char('\n')), tr("Classic scanner report"),
                                  appearance_, content));
    }

    if (!monitor_->diagnostics.empty()) {
        heading(tr("Not scanned"));
        for (const auto& diagnostic : monitor_->diagnostics) {
            auto* label =
                textLabel(tr("could not read %1: %2")
                              .arg(shown(diagnostic.file, 600), shown(diagnostic.message)),
                          systemFont(12), secondary, content, true);
            label->setObjectName(QStringLiteral("diagnostic"));
            column->addWidget(label);
        }
    }

    const auto entries = registry_->accepted() ? registry_->accepted()->entries(monitor_->url)
                                               : std::vector<monitor::AcceptedFinding>{};
    if (!entries.empty()) {
        heading(tr("Accepted findings"));
        for (const auto& entry : entries) {
            auto* row = new QWidget(content);
            row->setObjectName(QStringLiteral("acceptedRow"));
            row->setProperty("fingerprint", qs(entry.fingerprint));
            auto* line = new QHBoxLayout(row);
            line->setContentsMargins(0, 0, 0, 0);
            auto* text = textLabel(
                tr("%1, in %2 \u2014 \u201c%3\u201d (accepted %4)")
                    .arg(qs(entry.title), qs(entry.file), qs(entry.reason), dateText(entry.date)),
                systemFont(12), namedColor(NamedColor::label, appearance_), row, true);
            auto* restore = new QPushButton(tr("Restore"), row);
            restore->setAccessibleName(tr("Restore %1").arg(qs(entry.title)));
            connect(restore, &QPushButton::clicked, this, [this, fingerprint = entry.fingerprint] {
                registry_->restoreFinding(monitor_, fingerprint);
                refresh();
            });
            line->addWidget(text, 1);
            line->addWidget(restore, 0, Qt::AlignTop);
            column->addWidget(row);
        }
    }
    column->addStretch(1);

    scroll_->setWidget(content);  // deletes the previous content
    content_ = content;
    export_->setEnabled(!entries.empty());
}

QWidget* ProjectDetails::makeFindingBox(const core::Finding& finding) {
    auto* box = new QFrame;
    box->setObjectName(QStringLiteral("findingBox"));
    box->setProperty("fingerprint", qs(finding.fingerprint));
    const QColor color = namedColor(severityColor(finding.severity), appearance_);
    box->setStyleSheet(
        QStringLiteral("QFrame#findingBox { background: %1; border: 1px solid %2; "
                       "border-radius: 10px; }")
            .arg(styleColor(namedColor(NamedColor::controlBackground, appearance_)),
                 styleColor(namedColor(severityColor(finding.severity), appearance_, 0.35))));
    const QString severity = qs(std::string(core::severityName(finding.severity))).toUpper();
    box->setAccessibleName(QStringLiteral("%1: %2").arg(severity, qs(finding.title)));
    const QColor labelColor = namedColor(NamedColor::label, appearance_);
    const QColor secondary = namedColor(NamedColor::secondaryLabel, appearance_);

    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(6);
    auto* titleRow = new QHBoxLayout;
    auto* badge = textLabel(severity, systemFont(11, QFont::Bold), color, box);
    badge->setObjectName(QStringLiteral("severity"));
    badge->setWordWrap(false);
    auto* title = textLabel(qs(finding.title), systemFont(14, QFont::DemiBold), labelColor, box);
    title->setObjectName(QStringLiteral("title"));
    titleRow->addWidget(badge, 0, Qt::AlignTop);
    titleRow->addWidget(title, 1);
    column->addLayout(titleRow);

    auto* where = textLabel(qs(scan::describeLocation(finding.location)), systemFont(12), secondary,
                            box, true);
    where->setObjectName(QStringLiteral("location"));
    column->addWidget(where);
    if (!finding.message.empty()) {
        auto* what = textLabel(shown(finding.message, 1200), systemFont(12), labelColor, box, true);
        what->setObjectName(QStringLiteral("message"));
        column->addWidget(what);
    }
    if (!finding.evidence.empty()) {
        column->addWidget(
            textLabel(tr("Evidence"), systemFont(11, QFont::DemiBold), secondary, box));
        column->addWidget(codeBox(shown(finding.evidence), tr("Evidence"), appearance_, box));
    }
    int index = 0;
    for (const auto& layer : finding.layers) {
        ++index;
        const QString caption = tr("Decoded layer %1 (%2)").arg(index).arg(qs(layer.method));
        column->addWidget(textLabel(caption, systemFont(11, QFont::DemiBold), secondary, box));
        column->addWidget(codeBox(shown(layer.text), caption, appearance_, box));
    }
    auto* todo = textLabel(tr("What to do: %1").arg(shown(whatToDo(finding), 1200)), systemFont(12),
                           labelColor, box, true);
    todo->setObjectName(QStringLiteral("remedy"));
    column->addWidget(todo);

    auto* actions = new QHBoxLayout;
    auto* reveal = new QPushButton(tr("Show in file manager"), box);
    auto* accept = new QPushButton(tr("Accept finding\u2026"), box);
    reveal->setObjectName(QStringLiteral("reveal"));
    accept->setObjectName(QStringLiteral("accept"));
    accept->setAccessibleName(tr("Accept finding %1").arg(qs(finding.title)));
    const core::Finding copy = finding;  // the record is replaced by the next cycle
    connect(reveal, &QPushButton::clicked, this, [this, copy] { showInFileManager(copy); });
    connect(accept, &QPushButton::clicked, this, [this, copy] { acceptFinding(copy); });
    actions->addWidget(reveal);
    actions->addWidget(accept);
    actions->addStretch(1);
    column->addLayout(actions);
    return box;
}

void ProjectDetails::acceptFinding(const core::Finding& finding) {
    const QString prompt = tr("Why is \u201c%1\u201d safe in this project?").arg(qs(finding.title));
    std::optional<QString> reason;
    if (actions_.askReason) {
        reason = actions_.askReason(prompt);
    } else {
        bool ok = false;
        const QString text =
            QInputDialog::getText(this, tr("Accept finding"), prompt, QLineEdit::Normal, {}, &ok);
        if (ok) {
            reason = text;
        }
    }
    if (!reason) {
        return;
    }
    // One line: the reason is shown in lists and written to baseline files.
    const QString line = reason->simplified();
    registry_->acceptFinding(monitor_, finding, line.toStdString());
    refresh();
}

void ProjectDetails::showInFileManager(const core::Finding& finding) {
    QString path = qs(monitor_->url.path());
    if (!finding.location.file.empty()) {
        path += QLatin1Char('/') + qs(finding.location.file);
    }
    // File managers open folders; the one holding the file shows it.
    const QUrl url = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    if (actions_.openUrl) {
        actions_.openUrl(url);
    } else {
        QDesktopServices::openUrl(url);
    }
}

void ProjectDetails::exportBaseline() {
    if (registry_->accepted() == nullptr) {
        return;
    }
    const QString suggested = qs(monitor_->url.path()) + QStringLiteral("/quillon-baseline.json");
    std::optional<QString> path;
    if (actions_.chooseSavePath) {
        path = actions_.chooseSavePath(suggested);
    } else {
        const QString chosen = QFileDialog::getSaveFileName(this, tr("Export baseline"), suggested,
                                                            tr("Baseline (*.json)"));
        if (!chosen.isEmpty()) {
            path = chosen;
        }
    }
    if (!path) {
        return;
    }
    QFile file(*path);
    const std::string text = registry_->accepted()->exportBaseline(monitor_->url);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), qint64(text.size())) != qint64(text.size())) {
        status_->setText(tr("Could not write %1").arg(*path));
    }
}

QString ProjectDetails::reportText() const {
    const auto accepted = registry_->acceptedFingerprints(*monitor_);
    QStringList lines;
    lines << tr("Quillon report for %1").arg(qs(monitor_->url.lastPathComponent()));
    lines << tr("Folder: %1").arg(qs(monitor_->url.path()));
    lines << tr("Status: %1").arg(status_->text());
    lines << QString();
    for (const auto& finding : monitor_->findings) {
        if (accepted.contains(finding.fingerprint)) {
            continue;
        }
        for (const auto& line : scan::describeFinding(finding)) {
            lines << qs(line);
        }
        if (finding.remediation.empty()) {
            lines << QStringLiteral("  do:       ") + shown(whatToDo(finding), 1200);
        }
    }
    if (!monitor_->classicFindings.empty()) {
        lines << QString() << tr("Classic scanner report:");
        for (const auto& line : monitor_->classicFindings) {
            lines << QStringLiteral("  ") + shown(line, 400);
        }
    }
    if (!monitor_->diagnostics.empty()) {
        lines << QString() << tr("Not scanned:");
        for (const auto& diagnostic : monitor_->diagnostics) {
            lines << QStringLiteral("  %1: %2")
                         .arg(shown(diagnostic.file, 600), shown(diagnostic.message));
        }
    }
    if (registry_->accepted() != nullptr) {
        const auto entries = registry_->accepted()->entries(monitor_->url);
        if (!entries.empty()) {
            lines << QString() << tr("Accepted:");
            for (const auto& entry : entries) {
                lines << QStringLiteral("  %1, in %2: %3 (accepted %4, fingerprint %5)")
                             .arg(qs(entry.title), qs(entry.file), qs(entry.reason),
                                  dateText(entry.date), qs(entry.fingerprint));
            }
        }
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

namespace {

template <typename T>
QList<T*> namedChildren(const QWidget* content, const char* name) {
    return content != nullptr ? content->findChildren<T*>(QString::fromLatin1(name)) : QList<T*>{};
}

}  // namespace

QList<QWidget*> ProjectDetails::findingBoxes() const {
    return namedChildren<QWidget>(content_, "findingBox");
}

QList<QWidget*> ProjectDetails::acceptedRows() const {
    return namedChildren<QWidget>(content_, "acceptedRow");
}

QList<QLabel*> ProjectDetails::diagnosticLabels() const {
    return namedChildren<QLabel>(content_, "diagnostic");
}

}  // namespace quillon::ui
