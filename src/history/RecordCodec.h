#pragma once

#include "history/TurnRecord.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// The encodings shared by session files and the checkpoint. The files are also read and written
// by the macOS edition of the program, whose dates count from 2001-01-01T00:00:00Z; in memory
// every time stays Unix seconds like the rest of the program, and only this codec converts.
namespace quiro::RecordCodec {

inline constexpr double referenceDateUnixSeconds = 978'307'200.0;

QJsonValue date(double unixSeconds);
QString uuid(const QUuid& id); // canonical form, upper-case hexadecimal digits

// A key of a file is in one of three states: missing (or null, which the macOS reader also
// treats as missing), present with the expected type, or present with another type, which
// makes the whole file unreadable.
template <typename T> struct Field {
    bool valid = true; // false: present with the wrong type
    std::optional<T> value;
};

Field<double> date(const QJsonObject& object, const QString& key);
Field<double> number(const QJsonObject& object, const QString& key);
Field<qint64> integer(const QJsonObject& object, const QString& key);
Field<QString> string(const QJsonObject& object, const QString& key);
Field<QUuid> uuid(const QJsonObject& object, const QString& key);
Field<QList<TurnRecord>> turns(const QJsonObject& object, const QString& key);

// A JSON number that is integral and fits a signed 64-bit integer.
std::optional<qint64> integer(const QJsonValue& value);

QJsonArray turns(const QList<TurnRecord>& turns);
// JSON has no NaN or infinity: a value carrying one cannot be written faithfully.
bool turnsEncodable(const QList<TurnRecord>& turns);

} // namespace quiro::RecordCodec
