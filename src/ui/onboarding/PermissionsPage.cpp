#include "ui/onboarding/PermissionsPage.h"

#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/GlassCard.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuietButton.h"
#include "ui/kit/SoundSettings.h"
#include "ui/onboarding/GrantRow.h"
#include "ui/onboarding/OnboardingModel.h"
#include "ui/onboarding/PageHeading.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace quiro {

namespace {
const QString micDetail = QStringLiteral("Your side of the call, through the microphone.");
const QString playbackDetail = QStringLiteral("The other side, from what this computer plays.");

std::optional<bool> grantOf(const HearingCheck::Result& result)
{
    if (!result.ok && result.reason.isEmpty())
        return std::nullopt; // not checked yet
    return result.ok;
}

QString detailOf(const HearingCheck::Result& result, const QString& before)
{
    if (result.ok)
        return QStringLiteral("Ready — %1").arg(result.device);
    return result.reason.isEmpty() ? before : result.reason;
}
} // namespace

PermissionsPage::PermissionsPage(OnboardingModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_mic(new GrantRow(QStringLiteral("mic"), QStringLiteral("Microphone access"), micDetail))
    , m_playback(new GrantRow(QStringLiteral("speaker.wave.2"),
                              QStringLiteral("Computer sound — hears Zoom, Meet, Teams"), playbackDetail))
    , m_main(new AccentButton(QStringLiteral("Allow access"), QStringLiteral("arrow.right"), this))
    , m_settings(new QuietButton(QStringLiteral("Open sound settings"), this))
    , m_settingsNote(makeLabel({}, Fonts::text(12), DS::inkSoft, this))
{
    auto* card = new GlassCard(this);
    card->contentLayout()->setSpacing(4);
    for (GrantRow* row : {m_mic, m_playback}) {
        row->setParent(card);
        card->contentLayout()->addWidget(row);
    }

    auto* skip = new QuietButton(QStringLiteral("Skip for now"), this);
    auto* secondary = new QHBoxLayout;
    secondary->addStretch(1);
    secondary->addWidget(m_settings);
    secondary->addWidget(skip);
    secondary->addStretch(1);
    m_settingsNote->setAlignment(Qt::AlignHCenter);
    m_settingsNote->setWordWrap(true);
    m_settingsNote->hide();

    QLabel* footer = makeLabel(QStringLiteral("All audio is processed securely. Nothing stored without consent."),
                               Fonts::text(11.5), DS::inkFaint, this);
    footer->setAlignment(Qt::AlignHCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(36, 24, 36, 28);
    layout->setSpacing(0);
    layout->addStretch(2);
    layout->addWidget(new PageHeading(QStringLiteral("Quiro needs to hear the call"),
                                      QStringLiteral("Two sound sources — one for each side of the conversation."),
                                      this));
    layout->addSpacing(24);
    layout->addWidget(card);
    layout->addSpacing(24);
    layout->addWidget(m_main, 0, Qt::AlignHCenter);
    layout->addSpacing(12);
    layout->addLayout(secondary);
    layout->addWidget(m_settingsNote);
    layout->addStretch(3);
    layout->addWidget(footer);

    m_poll.setInterval(pollIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &PermissionsPage::poll);
    connect(m_main, &QAbstractButton::clicked, this, &PermissionsPage::mainAction);
    connect(m_settings, &QAbstractButton::clicked, this, &PermissionsPage::openSoundSettings);
    connect(skip, &QAbstractButton::clicked, &m_model, &OnboardingModel::next);
    for (auto changed : {&OnboardingModel::micChanged, &OnboardingModel::screenChanged,
                         &OnboardingModel::checkingChanged, &OnboardingModel::askedOnceChanged})
        connect(&m_model, changed, this, &PermissionsPage::refresh);
    refresh();
}

void PermissionsPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_poll.start();
}

void PermissionsPage::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_poll.stop();
}

void PermissionsPage::poll()
{
    // A check that takes longer than the interval (a sound server slow to answer) is not stacked.
    if (m_polling)
        return;
    m_polling = true;
    QCoro::connect(m_model.silentCheck(), this, [this] { m_polling = false; });
}

void PermissionsPage::refresh()
{
    m_mic->setStatus(grantOf(m_model.microphone()), detailOf(m_model.microphone(), micDetail));
    m_playback->setStatus(grantOf(m_model.playback()), detailOf(m_model.playback(), playbackDetail));
    if (m_model.checking())
        m_main->setText(QStringLiteral("Checking…"));
    else if (m_model.bothGranted())
        m_main->setText(QStringLiteral("Continue"));
    else
        m_main->setText(m_model.askedOnce() ? QStringLiteral("Check again") : QStringLiteral("Allow access"));
    m_main->setEnabled(!m_model.checking());
    m_main->updateGeometry();
}

void PermissionsPage::mainAction()
{
    if (m_model.bothGranted())
        m_model.next();
    else
        // Nothing waits for the request: the model applies its results only while it exists.
        [[maybe_unused]]
        QCoro::Task<> request = m_model.requestAll();
}

void PermissionsPage::openSoundSettings()
{
    const std::optional<QString> problem = SoundSettings::open();
    m_settingsNote->setText(problem.value_or(QString()));
    m_settingsNote->setVisible(problem.has_value());
}

} // namespace quiro
