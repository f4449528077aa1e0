#include "platform/qt/QSettingsDefaults.h"

#include <QByteArray>
#include <QSettings>

namespace quillon::platform::qt {

QSettingsDefaults::QSettingsDefaults(QString organization, QString application)
    : organization_(std::move(organization)), application_(std::move(application)) {}

std::optional<std::string> QSettingsDefaults::data(const std::string& key) const {
    const QSettings settings(organization_, application_);
    const QVariant value = settings.value(QString::fromStdString(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void QSettingsDefaults::setData(const std::string& key, const std::string& value) {
    QSettings settings(organization_, application_);
    settings.setValue(QString::fromStdString(key),
                      QByteArray(value.data(), static_cast<qsizetype>(value.size())));
    settings.sync();
}

}  // namespace quillon::platform::qt
