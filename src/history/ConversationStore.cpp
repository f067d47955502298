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
#include <limits>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

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
    // Whole seconds: the fraction is dropped towards the past, also before 1970, so a start
    // time always names the second it falls in.
    const double seconds = std::floor(startedAtUnixSeconds);
    constexpr double maxMsecs = 9.0e15; // keeps the millisecond count exact and inside QDateTime's range
    if (!std::isfinite(seconds) || std::abs(seconds * 1000.0) > maxMsecs)
        return std::nullopt;
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds) * 1000, Qt::UTC);
    // ISO 8601 text exists for years 0 to 9999 only; Qt gives an empty text outside them.
    const QString iso = start.toString(Qt::ISODate);
    if (!start.isValid() || iso.isEmpty())
        return std::nullopt;
    QString name = QStringLiteral("session-") + iso + QStringLiteral(".json");
    name.replace(QLatin1Char(':'), QLatin1Char('-'));
    return name;
}

QString ConversationStore::sessionsDir(const QString& account) const
{
    const QString dir = Paths::sessionsRoot() + QLatin1Char('/') + account;
    Paths::ensurePrivateDir(dir);
    return dir;
}

QStringList ConversationStore::otherAccounts() const
{
    QStringList accounts;
    const QString current = accountName();
    const QDir root(Paths::sessionsRoot());
    for (const QString& account : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (account != current &&
            !QDir(root.filePath(account)).entryList({QStringLiteral("*.json")}, QDir::Files).isEmpty())
            accounts.append(account);
    }
    return accounts;
}

QString ConversationStore::checkpointPath() const
{
    return Paths::appDir() + QStringLiteral("/checkpoint_") + accountName() + QStringLiteral(".json");
}

QString ConversationStore::fileFor(const QString& dir, const QString& name, const SessionRecord& record)
{
    const QString stem = dir + QLatin1Char('/') + name.chopped(int(qstrlen(".json")));
    for (int suffix = 1;; ++suffix) {
        const QString path =
            suffix == 1 ? stem + QStringLiteral(".json") : stem + QStringLiteral("-%1.json").arg(suffix);
        QFile file(path);
        if (!file.exists())
            return path;
        // A file we cannot read or decode may still be somebody's call: it is not ours to replace.
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const std::optional<SessionRecord> stored = SessionRecord::decode(file.readAll());
        if (stored && stored->id == record.id)
            return path;
    }
}

WriteResult ConversationStore::save(const SessionRecord& record, const QString& account) const
{
    const auto name = fileName(record.startedAt);
    const auto bytes = record.encode();
    if (!name || !bytes)
        return WriteResult::failure(QStringLiteral("the call's times or numbers cannot be stored"));
    const QString dir = sessionsDir(account);
    if (!QFileInfo(dir).isDir())
        return WriteResult::failure(QStringLiteral("cannot create the folder %1").arg(dir));
    return AtomicFile::write(fileFor(dir, *name, record), *bytes);
}

QList<SessionRecord> ConversationStore::loadRecent(int limit) const
{
    return loadRecentListing(limit).records;
}

namespace {

struct Entry {
    QByteArray name; // as the filesystem spells it; turned into a path only when read
    qint64 createdNs;
};

// The session files of `dir` (regular files, following symbolic links like any reader would),
// each with its creation time. The creation (birth) time is used where the filesystem reports
// it, which statx does on ext4, btrfs, xfs and tmpfs (QFileInfo::birthTime() is valid there);
// elsewhere the modification time stands in. A save replaces the file as a whole, so both move
// to the time of the last save. Reading the directory directly keeps one system call per entry:
// the listing covers every stored call, not just the ones shown.
std::vector<Entry> sessionFiles(const QString& dir)
{
    std::vector<Entry> entries;
    DIR* stream = ::opendir(QFile::encodeName(dir).constData());
    if (!stream)
        return entries;
    const int dirFd = ::dirfd(stream);
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name(entry->d_name);
        // Hidden entries are skipped; the extension must be exactly "json", case and all.
        if (name.empty() || name.front() == '.' || !name.ends_with(".json"))
            continue;
        struct statx info {};
        if (::statx(dirFd, entry->d_name, AT_STATX_SYNC_AS_STAT, STATX_TYPE | STATX_MTIME | STATX_BTIME, &info) != 0)
            continue; // vanished or a dangling link: nothing to read
        // Folders named like a session file are not session files and must not take a place.
        if (!S_ISREG(info.stx_mode))
            continue;
        qint64 createdNs = std::numeric_limits<qint64>::min();
        const auto toNs = [](const statx_timestamp& t) { return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
        if (info.stx_mask & STATX_BTIME)
            createdNs = toNs(info.stx_btime);
        else if (info.stx_mask & STATX_MTIME)
            createdNs = toNs(info.stx_mtime);
        entries.push_back({QByteArray(name.data(), qsizetype(name.size())), createdNs});
    }
    ::closedir(stream);
    return entries;
}

} // namespace

ConversationStore::Listing ConversationStore::loadRecentListing(int limit) const
{
    const QString dir = sessionsDir();
    std::vector<Entry> entries = sessionFiles(dir);
    // Newest first; the sort is stable so equal times keep the directory's order.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.createdNs > b.createdNs; });

    // The cut comes before decoding: only `limit` files are ever read, and an unreadable one
    // among them shortens the result rather than letting an older file in.
    Listing listing;
    const auto count = static_cast<std::size_t>(std::max(limit, 0));
    for (std::size_t i = 0; i < std::min(count, entries.size()); ++i) {
        QFile file(dir + QLatin1Char('/') + QFile::decodeName(entries[i].name));
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

WriteResult ConversationStore::saveCheckpoint(const SessionCheckpoint& checkpoint) const
{
    const auto bytes = checkpoint.encode();
    if (!bytes)
        return WriteResult::failure(QStringLiteral("the call's times cannot be stored"));
    return AtomicFile::write(checkpointPath(), *bytes);
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
