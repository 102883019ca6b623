#include "drive/registry.h"
#include "drive/strings.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>
#include <optional>

namespace {

int &lastError()
{
    static int code = 0;
    return code;
}

int remember(int code)
{
    lastError() = code;
    return code;
}

// The text form of a value, as it is written when it is no number.
QString textForm(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::UnknownType: return QString();
    case QMetaType::Bool: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float: return QString::number(v.toDouble(), 'g', 15);
    default: return v.toString();
    }
}

// The value as a number, when it is one (a number, or a text that reads as
// a decimal number with blanks around it). Booleans read as no number.
std::optional<double> numericValue(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (std::isfinite(d))
            return d;
        return std::nullopt;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        static const QRegularExpression number(
            QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
        const QString t = v.toString().trimmed();
        if (!number.match(t).hasMatch())
            return std::nullopt;
        bool ok = false;
        const double d = t.toDouble(&ok);   // QString::toDouble is locale independent
        if (ok && std::isfinite(d))
            return d;
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

} // namespace

bool RegKeyExists(int32_t root, const QString &path)
{
    const bool exists = plat::Settings::instance().keyExists(root, path);
    remember(exists ? plat::SettingsOk
                    : (plat::Settings::hiveName(root).isEmpty() ? plat::SettingsInvalid : plat::SettingsNotFound));
    return exists;
}

QVariant RegGetValue(int32_t root, const QString &path, const QString &valueName)
{
    int status = 0;
    auto v = plat::Settings::instance().value(root, path, valueName, &status);
    remember(status);
    if (!v)
        return QVariant();
    if (v->type == plat::SettingsNumber)
        return QVariant(int(v->number));
    const qsizetype nul = v->text.indexOf(QChar(0));
    return QVariant(nul < 0 ? v->text : v->text.left(nul));
}

void RegSetValue(int32_t root, const QString &path, const QString &valueName, const QVariant &value)
{
    int32_t number = 0;
    if (auto d = numericValue(value)) {
        const double r = std::nearbyint(*d);   // the default rounding: half to even
        if (r >= double(std::numeric_limits<int32_t>::min()) && r <= double(std::numeric_limits<int32_t>::max()))
            number = int32_t(r);
    }
    plat::Settings &s = plat::Settings::instance();
    if (number != 0)
        remember(s.setNumber(root, path, valueName, number));
    else
        remember(s.setText(root, path, valueName, TrimBlanks(textForm(value))));
}

bool RegCreateKeyIfMissing(int32_t root, const QString &path)
{
    if (!RegKeyExists(root, path))
        remember(plat::Settings::instance().createKey(root, path));
    return false;
}

bool RegDeleteSubkey(int32_t root, const QString &parentPath, const QString &subkeyName)
{
    if (!RegKeyExists(root, parentPath))
        return false;
    // An empty name would name the parent itself.
    if (subkeyName.split(QLatin1Char('\\'), Qt::SkipEmptyParts).isEmpty()) {
        remember(plat::SettingsInvalid);
        return false;
    }
    return remember(plat::Settings::instance().deleteKey(root, parentPath + QLatin1Char('\\') + subkeyName))
        == plat::SettingsOk;
}

bool CanWriteBaseKey(int32_t &root, QString &path)
{
    plat::Settings &s = plat::Settings::instance();
    const int created = s.createKey(root, path);
    const bool openedForWrite = s.keyExists(root, path) && s.hiveWritable(root);
    remember(created != plat::SettingsOk ? created : (openedForWrite ? plat::SettingsOk : plat::SettingsAccessDenied));
    return created == plat::SettingsOk && openedForWrite;
}

int RegLastError() { return lastError(); }

QString GetSetting(const QString &app, const QString &section, const QString &key, const QString &defaultValue)
{
    return plat::userSetting(app, section, key, defaultValue);
}

void SaveSetting(const QString &app, const QString &section, const QString &key, const QString &value)
{
    plat::saveUserSetting(app, section, key, value);
}

void DeleteSetting(const QString &app, const QString &section, const QString &key)
{
    plat::deleteUserSetting(app, section, key);
}
