#include "history/ConversationStore.h"

#include "core/AtomicFile.h"
#include "core/Paths.h"
#include "core/Preferences.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <vector>

namespace quiro {

ConversationStore::ConversationStore(const Clock& clock)
    : m_clock(clock)
{
}

ConversationStore& ConversationStore::shared()
{
    static ConversationStore s_store;
    return s_store;
}

QString ConversationStore::accountName()
{
    QString name = Preferences::email().value_or(QStringLiteral("local"));
    // Every separator becomes "_", so an address can neither name a parent folder nor nest one.
    name.replace(QLatin1Char('@'), QLatin1Char('_'));
    name.replace(QLatin1Char('.'), QLatin1Char('_'));
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

std::optional<QString> ConversationStore::fileName(double startedAtUnixSeconds)
{
    // Whole seconds, truncated towards the past like the date formatter of the macOS edition.
    const double seconds = std::floor(startedAtUnixSeconds);
    constexpr double maxMsecs = 9.0e15; // far inside QDateTime's range, years 0..9999 and beyond
    if (!std::isfinite(seconds) || std::abs(seconds * 1000.0) > maxMsecs)
        return std::nullopt;
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds) * 1000, Qt::UTC);
    if (!start.isValid())
        return std::nullopt;
    QString name = QStringLiteral("session-") + start.toString(Qt::ISODate) + QStringLiteral(".json");
    name.replace(QLatin1Char(':'), QLatin1Char('-'));
    return name;
}

QString ConversationStore::sessionsDir() const
{
    const QString dir = Paths::sessionsRoot() + QLatin1Char('/') + accountName();
    Paths::ensurePrivateDir(dir);
    return dir;
}

QString ConversationStore::checkpointPath() const
{
    return Paths::appDir() + QStringLiteral("/checkpoint_") + accountName() + QStringLiteral(".json");
}

void ConversationStore::save(const SessionRecord& record) const
{
    const auto name = fileName(record.startedAt);
    const auto bytes = record.encode();
    if (!name || !bytes)
        return;
    AtomicFile::write(sessionsDir() + QLatin1Char('/') + *name, *bytes);
}

QList<SessionRecord> ConversationStore::loadRecent(int limit) const
{
    return loadRecentListing(limit).records;
}

ConversationStore::Listing ConversationStore::loadRecentListing(int limit) const
{
    struct Entry {
        QString path;
        qint64 createdMsecs;
    };
    // Folders and hidden files are left out by the filter itself, so a folder named like a
    // session file never takes the place of a real one.
    const QFileInfoList infos = QDir(sessionsDir()).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::vector<Entry> entries;
    entries.reserve(infos.size());
    for (const QFileInfo& info : infos) {
        if (info.suffix() != QLatin1String("json"))
            continue;
        // The creation (birth) time where the filesystem reports it: Qt reads it with statx, as
        // ext4, btrfs, xfs and tmpfs provide. Elsewhere the modification time stands in; a
        // save replaces the file as a whole, so both move to the time of the last save.
        QDateTime created = info.birthTime();
        if (!created.isValid())
            created = info.lastModified();
        entries.push_back(
            {info.filePath(), created.isValid() ? created.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min()});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.createdMsecs > b.createdMsecs; });

    // The cut comes before decoding: only `limit` files are ever read, and an unreadable one
    // among them shortens the result rather than letting an older file in.
    Listing listing;
    const auto count = static_cast<std::size_t>(std::max(limit, 0));
    for (std::size_t i = 0; i < std::min(count, entries.size()); ++i) {
        QFile file(entries[i].path);
        std::optional<SessionRecord> record;
        if (file.open(QIODevice::ReadOnly))
            record = SessionRecord::decode(file.readAll());
        if (record)
            listing.records.append(std::move(*record));
        else
            ++listing.skippedFiles;
    }
    return listing;
}

void ConversationStore::saveCheckpoint(const SessionCheckpoint& checkpoint) const
{
    const auto bytes = checkpoint.encode();
    if (!bytes)
        return;
    AtomicFile::write(checkpointPath(), *bytes);
}

std::optional<SessionCheckpoint> ConversationStore::loadCheckpoint() const
{
    QFile file(checkpointPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // An unreadable checkpoint stays where it is: the next session's first tick replaces it.
    auto checkpoint = SessionCheckpoint::decode(file.readAll());
    file.close();
    if (!checkpoint)
        return std::nullopt;
    // A savedAt in the future gives a negative age and counts as fresh.
    const double ageSeconds = m_clock.now() - checkpoint->savedAt;
    if (ageSeconds > checkpointMaxAgeSeconds) {
        clearCheckpoint();
        return std::nullopt;
    }
    return checkpoint;
}

void ConversationStore::clearCheckpoint() const
{
    QFile::remove(checkpointPath());
}

} // namespace quiro
