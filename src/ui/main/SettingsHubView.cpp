#include "ui/main/SettingsHubView.h"

#include "account/AuthManager.h"
#include "core/Autostart.h"
#include "core/Text.h"
#include "overlay/SessionWindowModel.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuietButton.h"
#include "ui/kit/QuiroCard.h"
#include "ui/kit/QuiroDivider.h"
#include "ui/kit/QuiroSectionHeader.h"
#include "ui/kit/SymbolView.h"
#include "ui/main/ConversationLanguage.h"
#include "ui/main/HearingRow.h"
#include "ui/main/PageScroll.h"
#include "ui/main/WidgetStyleChoice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

namespace {
QuiroCard* section(const QString& icon, const QString& title, const QString& caption, QWidget* parent)
{
    auto* card = new QuiroCard(parent, 18);
    auto* heading = new QHBoxLayout;
    heading->setSpacing(8);
    heading->addWidget(new SymbolView(icon, DS::settingsViolet, 16, card));
    heading->addWidget(makeLabel(title, Fonts::text(14, QFont::DemiBold), DS::ink, card));
    heading->addStretch(1);
    if (!caption.isEmpty())
        heading->addWidget(makeLabel(caption, Fonts::text(11.5), DS::inkFaint, card));
    card->contentLayout()->setSpacing(12);
    card->contentLayout()->addLayout(heading);
    return card;
}
} // namespace

SettingsHubView::SettingsHubView(const MainServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_languageSavedDelay(this)
{
    auto* page = new PageScroll(this);
    QWidget* content = page->content();
    page->add(new QuiroSectionHeader(QStringLiteral("Settings"),
                                     QStringLiteral("How Quiro looks, what it hears, and your account."), content));
    page->add(widgetStyleSection(content));
    page->add(hearingSection(content));
    page->add(accountSection(content));
    page->addStretch();

    connect(m_services.overlay, &SessionWindowModel::widgetModeChanged, this, &SettingsHubView::showMode);
    for (auto signal : {&AuthManager::nameChanged, &AuthManager::emailChanged})
        connect(m_services.auth, signal, this, &SettingsHubView::showAccount);
    showMode();
    showAccount();
}

QuiroCard* SettingsHubView::widgetStyleSection(QWidget* parent)
{
    QuiroCard* card = section(QStringLiteral("rectangle.topthird.inset.filled"), QStringLiteral("Widget style"),
                              QStringLiteral("Floating widget"), parent);
    auto* choices = new QHBoxLayout;
    choices->setSpacing(12);
    m_panel = new WidgetStyleChoice(
        QStringLiteral("rectangle.topthird.inset.filled"),
        QStringLiteral("Panel \u2014 full bar with all controls visible."),
        QStringLiteral("All controls and transcript are visible at once. Drag to reposition."), card);
    m_island = new WidgetStyleChoice(
        QStringLiteral("capsule.portrait"), QStringLiteral("Dynamic Island \u2014 thin pill at the top."),
        QStringLiteral("Hovers open the controls. AI hints bloom out of the pill mid-call."), card);
    choices->addWidget(m_panel);
    choices->addWidget(m_island);
    card->contentLayout()->addLayout(choices);
    // This desktop cannot keep a window out of a screen share; the seller should know before a call.
    QLabel* sharing = makeLabel(QStringLiteral("People you share your whole screen with see the widget too. Share "
                                               "a single window to keep it to yourself."),
                                Fonts::text(12), DS::inkFaint, card);
    sharing->setWordWrap(true);
    card->contentLayout()->addWidget(sharing);

    connect(m_panel, &QAbstractButton::clicked, this, [this] { m_services.overlay->setMode(WidgetMode::panel); });
    connect(m_island, &QAbstractButton::clicked, this, [this] { m_services.overlay->setMode(WidgetMode::island); });
    return card;
}

QuiroCard* SettingsHubView::hearingSection(QWidget* parent)
{
    QuiroCard* card = section(QStringLiteral("waveform"), QStringLiteral("Hearing"), {}, parent);
    m_voice = new HearingRow(HearingRow::Side::seller, card);
    m_theirs = new HearingRow(HearingRow::Side::client, card);
    card->contentLayout()->addWidget(m_voice);
    card->contentLayout()->addWidget(new QuiroDivider(card));
    card->contentLayout()->addWidget(m_theirs);
    card->contentLayout()->addWidget(new QuiroDivider(card));

    auto* language = new QHBoxLayout;
    language->setSpacing(10);
    language->addWidget(new SymbolView(QStringLiteral("globe"), DS::inkSoft, 16, card));
    language->addWidget(
        makeLabel(QStringLiteral("Conversation language"), Fonts::text(13.5, QFont::DemiBold), DS::ink, card));
    language->addStretch(1);
    language->addWidget(makeLabel(QStringLiteral("Calls are in"), Fonts::text(13), DS::inkSoft, card));
    m_language = new QComboBox(card);
    m_language->setFont(Fonts::text(13));
    for (const ConversationLanguage::Language& entry : ConversationLanguage::offered())
        m_language->addItem(entry.name, entry.code);
    language->addWidget(m_language);
    m_languageStatus = makeLabel({}, Fonts::text(12, QFont::Medium), DS::green, card);
    card->contentLayout()->addLayout(language);
    m_languageStatus->setWordWrap(true);
    m_languageStatus->setAlignment(Qt::AlignRight);
    card->contentLayout()->addWidget(m_languageStatus);
    m_languageStatus->hide();
    connect(m_language, &QComboBox::activated, this, &SettingsHubView::saveLanguage);
    return card;
}

QWidget* SettingsHubView::startAtLogin(QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    auto* check = new QCheckBox(QStringLiteral("Start Quiro when I log in"), box);
    check->setFont(Fonts::text(13));
    check->setChecked(Autostart::isEnabled());
    QLabel* problem = makeLabel({}, Fonts::text(12), DS::clay, box);
    problem->setWordWrap(true);
    problem->hide();
    column->addWidget(check);
    column->addWidget(problem);
    connect(check, &QCheckBox::toggled, this, [check, problem](bool enabled) {
        const WriteResult written = Autostart::setEnabled(enabled, QCoreApplication::applicationFilePath());
        problem->setVisible(!written);
        if (written)
            return;
        problem->setText(QStringLiteral("Could not change it: %1").arg(written.reason()));
        const QSignalBlocker quiet(check);
        check->setChecked(Autostart::isEnabled());
    });
    return box;
}

QuiroCard* SettingsHubView::accountSection(QWidget* parent)
{
    QuiroCard* card = section(QStringLiteral("person.crop.circle"), QStringLiteral("Account"), {}, parent);
    auto* row = new QHBoxLayout;
    auto* who = new QVBoxLayout;
    who->setSpacing(2);
    m_name = makeLabel({}, Fonts::text(13.5, QFont::DemiBold), DS::ink, card);
    m_email = makeLabel({}, Fonts::text(12.5), DS::inkSoft, card);
    who->addWidget(m_name);
    who->addWidget(m_email);
    row->addLayout(who, 1);
    auto* signOut = new QuietButton(QStringLiteral("Sign out"), card);
    connect(signOut, &QAbstractButton::clicked, this, [this] { m_services.auth->logout(); });
    m_signOut = signOut;
    row->addWidget(signOut);
    card->contentLayout()->addLayout(row);
    card->contentLayout()->addWidget(new QuiroDivider(card));
    card->contentLayout()->addWidget(startAtLogin(card));
    return card;
}

void SettingsHubView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    loadLanguage();
    m_voice->activate();
    m_theirs->activate();
    if (m_services.auth->isLoggedIn())
        m_services.auth->fetchMe();
}

void SettingsHubView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // The devices stay closed while nobody watches their levels.
    m_voice->deactivate();
    m_theirs->deactivate();
}

void SettingsHubView::showMode()
{
    (m_services.overlay->widgetMode() == WidgetMode::island ? m_island : m_panel)->setChecked(true);
}

void SettingsHubView::showAccount()
{
    const std::optional<QString> email = m_services.auth->email();
    m_name->setText(Text::displayable(m_services.auth->name().value_or(QString())));
    m_name->setVisible(!m_name->text().isEmpty());
    m_email->setText(email ? Text::displayable(*email) : QStringLiteral("Not signed in"));
    m_signOut->setVisible(email.has_value());
}

void SettingsHubView::loadLanguage()
{
    const int index = m_language->findData(ConversationLanguage::load(m_services.envFile));
    // A language the picker does not offer stays in the file until another is chosen.
    m_language->setCurrentIndex(index);
}

void SettingsHubView::saveLanguage(int index)
{
    const QString code = m_language->itemData(index).toString();
    if (const WriteResult saved = ConversationLanguage::save(m_services.envFile, code); !saved) {
        m_languageSavedDelay.cancel();
        setLanguageStatus(QStringLiteral("Could not save the language: %1").arg(saved.reason()), DS::red);
        return;
    }
    setLanguageStatus(QStringLiteral("Saved \u2014 your next call listens for %1").arg(m_language->itemText(index)),
                      DS::green);
    m_languageSavedDelay.start(savedMs, [this] { setLanguageStatus({}, DS::green); });
}

void SettingsHubView::setLanguageStatus(const QString& text, const QColor& color)
{
    m_languageStatus->setText(text);
    setLabelColor(m_languageStatus, color);
    m_languageStatus->setVisible(!text.isEmpty());
}

QString SettingsHubView::languageStatus() const
{
    return m_languageStatus->text();
}

} // namespace quiro
