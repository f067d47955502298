#include "service/stt/SpeechModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <type_traits>

#include <malloc.h>
#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>

#ifndef QUIRO_POCKETSPHINX_MODELDIR
#define QUIRO_POCKETSPHINX_MODELDIR "/usr/share/pocketsphinx/model"
#endif

namespace quiro::service {

namespace {

struct ModelFiles {
    QString acoustic;
    QString languageModel;
    QString dictionary;
};

// A language folder "xx-yy" holds the acoustic model "xx-yy/", "xx-yy.lm.bin" and a dictionary.
std::optional<ModelFiles> filesIn(const QString& folder)
{
    const QString name = QFileInfo(folder).fileName();
    ModelFiles files{
        folder + QLatin1Char('/') + name, folder + QLatin1Char('/') + name + QStringLiteral(".lm.bin"), {}};
    const QStringList dictionaries = QDir(folder).entryList({QStringLiteral("*.dict")}, QDir::Files, QDir::Name);
    if (dictionaries.isEmpty() || !QFileInfo(files.acoustic).isDir() || !QFileInfo(files.languageModel).isFile())
        return std::nullopt;
    files.dictionary = folder + QLatin1Char('/') + dictionaries.first();
    return files;
}

// The voice detector ends an utterance after this many 10 ms frames of silence (the library's
// default is 50). In a conversation the other side answers within a few hundred milliseconds,
// so the final result has to come sooner; at 150 ms the pauses between words of one sentence
// still do not cut it, fewer frames do (12 cut flite's phrases in two and cost words).
constexpr const char* postSpeechFrames = "15";

static_assert(std::is_same_v<mfcc_t, float>, "the pocketsphinx build uses floating-point features");

// The running estimate of the cepstral mean: it adapts to every utterance decoded and outlives
// the utterance, so it is what one stream would leave to the next.
cmn_t* cepstralMean(ps_decoder_s* decoder)
{
    feat_t* features = ps_get_feat(decoder);
    return features ? features->cmn_struct : nullptr;
}

void silenceLibraryLog()
{
    // pocketsphinx logs every configuration value and per-utterance statistics on stderr.
    static const bool silenced = [] {
        err_set_logfp(nullptr);
        return true;
    }();
    (void)silenced;
}

} // namespace

SpeechModel::SpeechModel(QString modelRoot)
    : m_modelRoot(std::move(modelRoot))
{
    silenceLibraryLog();
}

SpeechModel::~SpeechModel()
{
    const QMutexLocker lock(&m_mutex);
    for (auto& [folder, pool] : m_pools) {
        for (ps_decoder_s* decoder : pool.idle)
            ps_free(decoder);
    }
}

QString SpeechModel::defaultModelRoot()
{
    return QStringLiteral(QUIRO_POCKETSPHINX_MODELDIR);
}

QStringList SpeechModel::languages() const
{
    QStringList languages;
    const QStringList folders = QDir(m_modelRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& folder : folders) {
        if (filesIn(m_modelRoot + QLatin1Char('/') + folder)) {
            const QString language = folder.section(QLatin1Char('-'), 0, 0);
            if (!languages.contains(language))
                languages.append(language);
        }
    }
    return languages;
}

QString SpeechModel::modelFolderFor(const QString& language) const
{
    const QString requested = language.trimmed().toLower().replace(QLatin1Char('_'), QLatin1Char('-'));
    if (requested.isEmpty() || requested.contains(QLatin1Char('/')) || requested.contains(QLatin1Char('.')))
        return {};
    const QStringList folders = QDir(m_modelRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    // An exact folder ("en-us") first, then the first folder of the language ("en" -> "en-us").
    for (const QString& folder : folders) {
        if (folder == requested && filesIn(m_modelRoot + QLatin1Char('/') + folder))
            return m_modelRoot + QLatin1Char('/') + folder;
    }
    const QString base = requested.section(QLatin1Char('-'), 0, 0);
    for (const QString& folder : folders) {
        if (folder.section(QLatin1Char('-'), 0, 0) == base && filesIn(m_modelRoot + QLatin1Char('/') + folder))
            return m_modelRoot + QLatin1Char('/') + folder;
    }
    return {};
}

QString SpeechModel::folderFor(const QString& language, QString* error) const
{
    const QString folder = modelFolderFor(language);
    if (folder.isEmpty() && error)
        *error = QStringLiteral("no speech model for language '%1'").arg(language);
    return folder;
}

void SpeechModel::setDecodersAhead(size_t waiting, size_t mostLoaded)
{
    const QMutexLocker lock(&m_mutex);
    m_waiting = waiting;
    m_mostLoaded = mostLoaded;
}

bool SpeechModel::wantsOneMore(const Pool& pool) const
{
    const size_t ready = pool.idle.size() + pool.warming;
    return ready < m_waiting && ready + pool.inUse < m_mostLoaded;
}

ps_decoder_s* SpeechModel::acquire(const QString& language, QString* error)
{
    const QString folder = folderFor(language, error);
    if (folder.isEmpty())
        return nullptr;
    {
        const QMutexLocker lock(&m_mutex);
        Pool& pool = m_pools[folder];
        ++pool.inUse;
        if (!pool.idle.empty()) {
            ps_decoder_s* decoder = pool.idle.back();
            pool.idle.pop_back();
            startClean(decoder, m_initialMean[folder]);
            m_demand.wakeAll();
            return decoder;
        }
    }
    // Loaded outside the lock: other streams keep taking pooled decoders meanwhile.
    ps_decoder_s* decoder = load(folder, error);
    if (!decoder) {
        const QMutexLocker lock(&m_mutex);
        --m_pools[folder].inUse;
    }
    return decoder;
}

ps_decoder_s* SpeechModel::load(const QString& folder, QString* error)
{
    const auto files = filesIn(folder);
    if (!files) {
        if (error)
            *error = QStringLiteral("the speech model in %1 is incomplete").arg(folder);
        return nullptr;
    }
    const QByteArray acoustic = QFile::encodeName(files->acoustic);
    const QByteArray languageModel = QFile::encodeName(files->languageModel);
    const QByteArray dictionary = QFile::encodeName(files->dictionary);
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acoustic.constData(), "-lm",
                                   languageModel.constData(), "-dict", dictionary.constData(), "-samprate", "16000",
                                   "-vad_postspeech", postSpeechFrames, static_cast<const char*>(nullptr));
    if (!config) {
        if (error)
            *error = QStringLiteral("cannot configure the speech model in %1").arg(folder);
        return nullptr;
    }
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config); // the decoder keeps its own reference
    if (!decoder) {
        if (error)
            *error = QStringLiteral("cannot load the speech model in %1").arg(folder);
        return nullptr;
    }
    if (cmn_t* mean = cepstralMean(decoder)) {
        // As the model's configuration sets it, before any audio: where every stream starts.
        std::vector<float> initial(size_t(mean->veclen));
        cmn_live_get(mean, initial.data());
        const QMutexLocker lock(&m_mutex);
        m_initialMean.try_emplace(folder, std::move(initial));
    }
    ps_start_stream(decoder);
    return decoder;
}

void SpeechModel::startClean(ps_decoder_s* decoder, const std::vector<float>& initialMean)
{
    // A pooled decoder keeps the noise estimate and cepstral mean of the stream before: a quiet
    // or noisy caller would change what the next one's words come out as. The voice detector and
    // the rest of the front end start over with the stream; the mean is set back to the model's.
    ps_start_stream(decoder);
    cmn_t* mean = cepstralMean(decoder);
    if (mean && initialMean.size() == size_t(mean->veclen))
        cmn_live_set(mean, initialMean.data());
}

void SpeechModel::release(const QString& language, ps_decoder_s* decoder)
{
    if (!decoder)
        return;
    const QString folder = modelFolderFor(language);
    {
        const QMutexLocker lock(&m_mutex);
        Pool& pool = m_pools[folder];
        pool.inUse -= std::min<size_t>(pool.inUse, 1);
        if (pool.idle.size() < m_waiting) {
            pool.idle.push_back(decoder);
            return;
        }
    }
    unload(decoder);
}

void SpeechModel::unload(ps_decoder_s* decoder)
{
    ps_free(decoder);
    // A decoder is tens of megabytes in many small blocks; without a trim the allocator keeps
    // most of them for the process after they are freed.
    malloc_trim(0);
}

SpeechModel::LoadAhead SpeechModel::loadAhead(const QString& language, QString* error)
{
    const QString folder = folderFor(language, error);
    if (folder.isEmpty())
        return LoadAhead::failed;
    {
        const QMutexLocker lock(&m_mutex);
        Pool& pool = m_pools[folder];
        if (!wantsOneMore(pool))
            return LoadAhead::notNeeded;
        ++pool.warming;
    }
    ps_decoder_s* decoder = load(folder, error);
    {
        const QMutexLocker lock(&m_mutex);
        Pool& pool = m_pools[folder];
        --pool.warming;
        // Streams that found the pool empty may have loaded their own meanwhile.
        if (decoder && wantsOneMore(pool)) {
            pool.idle.push_back(decoder);
            return LoadAhead::loaded;
        }
    }
    if (!decoder)
        return LoadAhead::failed;
    unload(decoder);
    return LoadAhead::notNeeded;
}

void SpeechModel::waitForDemand(const QString& language, const std::atomic<bool>& stop)
{
    const QString folder = modelFolderFor(language);
    const QMutexLocker lock(&m_mutex);
    while (!stop && !wantsOneMore(m_pools[folder]))
        m_demand.wait(&m_mutex);
}

void SpeechModel::wakeWaiters()
{
    const QMutexLocker lock(&m_mutex);
    m_demand.wakeAll();
}

size_t SpeechModel::idleDecoders(const QString& language) const
{
    const QMutexLocker lock(&m_mutex);
    const auto pool = m_pools.find(modelFolderFor(language));
    return pool == m_pools.end() ? 0 : pool->second.idle.size();
}

} // namespace quiro::service
