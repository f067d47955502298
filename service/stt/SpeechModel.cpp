#include "service/stt/SpeechModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>
#include <type_traits>

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
    for (auto& [language, decoders] : m_idle) {
        for (ps_decoder_s* decoder : decoders)
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

ps_decoder_s* SpeechModel::acquire(const QString& language, QString* error)
{
    const QString folder = modelFolderFor(language);
    if (folder.isEmpty()) {
        if (error)
            *error = QStringLiteral("no speech model for language '%1'").arg(language);
        return nullptr;
    }
    {
        const QMutexLocker lock(&m_mutex);
        auto& idle = m_idle[folder];
        if (!idle.empty()) {
            ps_decoder_s* decoder = idle.back();
            idle.pop_back();
            startClean(decoder, m_initialMean[folder]);
            return decoder;
        }
    }
    // Loaded outside the lock: other streams keep taking pooled decoders meanwhile.
    const auto files = filesIn(folder);
    if (!files) {
        if (error)
            *error = QStringLiteral("the speech model in %1 is incomplete").arg(folder);
        return nullptr;
    }
    const QByteArray acoustic = QFile::encodeName(files->acoustic);
    const QByteArray languageModel = QFile::encodeName(files->languageModel);
    const QByteArray dictionary = QFile::encodeName(files->dictionary);
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acoustic.constData(), "-lm", languageModel.constData(), "-dict",
                    dictionary.constData(), "-samprate", "16000", static_cast<const char*>(nullptr));
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
        auto& idle = m_idle[folder];
        if (!folder.isEmpty() && idle.size() < maxIdleDecoders) {
            idle.push_back(decoder);
            return;
        }
    }
    ps_free(decoder);
}

bool SpeechModel::warmUp(const QString& language, QString* error)
{
    ps_decoder_s* decoder = acquire(language, error);
    if (!decoder)
        return false;
    release(language, decoder);
    return true;
}

} // namespace quiro::service
