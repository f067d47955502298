#include "ui/onboarding/OnboardingModel.h"

#include "coaching/ProductProfile.h"
#include "core/Published.h"

#include <QPointer>

namespace quiro {

namespace {
bool sameResult(const HearingCheck::Result& a, const HearingCheck::Result& b)
{
    return a.ok == b.ok && a.device == b.device && a.reason == b.reason;
}
} // namespace

OnboardingModel::OnboardingModel(QObject* parent)
    : OnboardingModel(Probes{}, parent)
{
}

OnboardingModel::OnboardingModel(Probes probes, QObject* parent)
    : QObject(parent)
    , m_probes(std::move(probes))
{
}

void OnboardingModel::setText(Field field, const QString& text)
{
    QString& stored = m_fields.at(size_t(field));
    if (stored == text)
        return;
    stored = text;
    emit textChanged(field);
}

void OnboardingModel::next()
{
    switch (m_page) {
    case OnboardPage::welcome:
        m_page = OnboardPage::permissions;
        break;
    case OnboardPage::permissions:
        m_page = OnboardPage::playbook;
        break;
    case OnboardPage::playbook:
        if (!savePlaybook())
            return;
        m_page = OnboardPage::ready;
        break;
    case OnboardPage::ready:
        return;
    }
    emit pageChanged();
}

WriteResult OnboardingModel::savePlaybook()
{
    ProductProfile profile;
    profile.productName = text(Field::productName);
    profile.valueProp = text(Field::valueProp);
    profile.targetCustomer = text(Field::target);
    profile.callType = text(Field::callType);
    profile.objections = {text(Field::objection1), text(Field::objection2), text(Field::objection3)};
    WriteResult written = profile.save();
    setSaveError(
        written ? std::nullopt
                : std::optional(QStringLiteral("Your product profile could not be saved: %1.").arg(written.reason())));
    return written;
}

QCoro::Task<> OnboardingModel::silentCheck()
{
    // Both run at once: neither shows anything to the user, and the poll wants a quick answer.
    QCoro::Task<> mic = checkMic();
    QCoro::Task<> screen = checkScreen();
    co_await mic;
    co_await screen;
}

QCoro::Task<> OnboardingModel::checkMic()
{
    const QPointer<OnboardingModel> self = this;
    HearingCheck::Result result = co_await m_probes.microphone();
    if (self)
        setResult(m_mic, std::move(result), &OnboardingModel::micChanged);
}

QCoro::Task<> OnboardingModel::checkScreen()
{
    const QPointer<OnboardingModel> self = this;
    HearingCheck::Result result = co_await m_probes.playback();
    if (self)
        setResult(m_screen, std::move(result), &OnboardingModel::screenChanged);
}

QCoro::Task<> OnboardingModel::requestAll()
{
    const QPointer<OnboardingModel> self = this;
    setChecking(true);
    co_await checkMic();
    if (!self)
        co_return;
    co_await checkScreen();
    if (!self)
        co_return;
    setChecking(false);
    setPublished(this, m_askedOnce, true, &OnboardingModel::askedOnceChanged);
    // Only from the permissions page: a request still running when the user skipped ahead must
    // not move the flow on a second time.
    if (bothGranted() && m_page == OnboardPage::permissions)
        next();
}

void OnboardingModel::setResult(HearingCheck::Result& field, HearingCheck::Result result,
                                void (OnboardingModel::*changed)())
{
    if (sameResult(field, result))
        return;
    const bool wasGranted = bothGranted();
    field = std::move(result);
    emit(this->*changed)();
    if (bothGranted() != wasGranted)
        emit grantsChanged();
}

void OnboardingModel::setChecking(bool checking)
{
    setPublished(this, m_checking, checking, &OnboardingModel::checkingChanged);
}

void OnboardingModel::setSaveError(std::optional<QString> error)
{
    setPublished(this, m_saveError, std::move(error), &OnboardingModel::saveErrorChanged);
}

} // namespace quiro
