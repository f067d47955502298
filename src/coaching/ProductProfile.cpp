#include "coaching/ProductProfile.h"

#include "core/AtomicFile.h"
#include "core/Json.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quiro {

namespace {

QString stringWithFallback(const QJsonObject& object, const QString& key, const QString& olderKey)
{
    // A value of the wrong type counts as absent, so the older name still gets its chance.
    if (const auto value = Json::string(object, key))
        return *value;
    return Json::string(object, olderKey).value_or(QString());
}

QStringList objectionFields(const QJsonObject& object)
{
    QStringList fields;
    const QJsonValue list = object.value(QStringLiteral("objections"));
    if (list.isArray()) {
        const QJsonArray array = list.toArray();
        for (qsizetype i = 0; i < qMin<qsizetype>(array.size(), ProductProfile::maxObjections); ++i)
            fields.append(array.at(i).toString()); // a non-string entry is an empty field
    } else {
        for (int i = 1; i <= ProductProfile::maxObjections; ++i)
            fields.append(Json::string(object, QStringLiteral("objection%1").arg(i)).value_or(QString()));
    }
    while (!fields.isEmpty() && fields.constLast().isEmpty())
        fields.removeLast();
    return fields;
}

} // namespace

ProductProfile ProductProfile::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto object = Json::parseObject(file.readAll());
    if (!object)
        return {};
    ProductProfile profile;
    profile.productName = stringWithFallback(*object, QStringLiteral("product_name"), QStringLiteral("productName"));
    profile.valueProp = stringWithFallback(*object, QStringLiteral("value_prop"), QStringLiteral("valueProp"));
    profile.targetCustomer = stringWithFallback(*object, QStringLiteral("target_customer"), QStringLiteral("target"));
    profile.callType = stringWithFallback(*object, QStringLiteral("call_type"), QStringLiteral("callType"));
    profile.objections = objectionFields(*object);
    return profile;
}

WriteResult ProductProfile::save(const QString& path) const
{
    // A folder that cannot be created makes the write below fail; that is the one failure reported.
    Paths::ensurePrivateDir(QFileInfo(path).absolutePath());
    QJsonArray written;
    for (const QString& objection : objections.mid(0, maxObjections)) {
        if (!objection.isEmpty())
            written.append(objection);
    }
    const QJsonObject object{
        {QStringLiteral("product_name"), productName},
        {QStringLiteral("value_prop"), valueProp},
        {QStringLiteral("target_customer"), targetCustomer},
        {QStringLiteral("call_type"), callType},
        {QStringLiteral("objections"), written},
    };
    // Replaced as a whole like every other file: an interrupted write must not leave the seller
    // with half a playbook.
    return AtomicFile::write(path, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

} // namespace quiro
