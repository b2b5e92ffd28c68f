#include "support/Registry.h"

#include <QRegularExpression>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace qx {

namespace {

QString FromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string ReadValue(QSettings& settings, const QString& key) {
    if (settings.status() != QSettings::NoError) return {};
    QVariant v = settings.value(key);
    if (!v.isValid() || !v.canConvert<QString>()) return {};
    QString text = v.toString();
    qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0) text.truncate(nul);
    return text.toStdString();
}

}  // namespace

std::string RegReadString(RegistryRoot root, std::string_view subKey, std::string_view valueName) {
    if (subKey.empty() || valueName.empty()) return {};
#ifdef _WIN32
    QString path = QString(root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\")
                   + FromUtf8(subKey);
    QSettings settings(path, QSettings::NativeFormat);
    return ReadValue(settings, FromUtf8(valueName));
#else
    QStringList parts = FromUtf8(subKey).split(QRegularExpression(QStringLiteral("[\\\\/]")), Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.front().compare(QStringLiteral("Software"), Qt::CaseInsensitive) == 0)
        parts.pop_front();
    if (parts.isEmpty()) return {};
    QString organisation = parts.takeFirst();
    QString application = parts.isEmpty() ? QString() : parts.takeFirst();
    parts.append(FromUtf8(valueName));
    QSettings settings(QSettings::NativeFormat,
                       root == RegistryRoot::LocalMachine ? QSettings::SystemScope : QSettings::UserScope,
                       organisation, application);
    // A user-scope QSettings also falls back on the system-wide file; the
    // registry key read here has no such fallback.
    settings.setFallbacksEnabled(false);
    return ReadValue(settings, parts.join(u'/'));
#endif
}

}  // namespace qx
