#include "ui/onboarding/PlaybookSetupPage.h"

#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/EditField.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/GlassCard.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuietButton.h"
#include "ui/onboarding/PageHeading.h"
#include "ui/onboarding/SymbolBadge.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quiro {

using Field = OnboardingModel::Field;

PlaybookSetupPage::PlaybookSetupPage(OnboardingModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_save(new AccentButton(QStringLiteral("Save & continue"), QStringLiteral("arrow.right"), this))
    , m_skip(new QuietButton(QStringLiteral("Skip for now"), this))
    , m_error(makeLabel({}, Fonts::text(12.5), DS::clay, this))
{
    auto* card = new GlassCard(this, 20);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(12);
    grid->addWidget(
        makeField(Field::productName, QStringLiteral("Product or company"), QStringLiteral("e.g. Acme Cloud")), 0, 0);
    grid->addWidget(
        makeField(Field::callType, QStringLiteral("Call type"), QStringLiteral("e.g. Demo / Discovery / Closing")), 0,
        1);
    grid->addWidget(makeField(Field::valueProp, QStringLiteral("Value proposition"),
                              QStringLiteral("e.g. Real-time AI hints during live calls")),
                    1, 0, 1, 2);
    grid->addWidget(
        makeField(Field::target, QStringLiteral("Target customer"), QStringLiteral("e.g. B2B SaaS sales teams")), 2, 0,
        1, 2);
    card->contentLayout()->addLayout(grid);
    card->contentLayout()->addSpacing(10);
    card->contentLayout()->addWidget(
        makeLabel(QStringLiteral("COMMON OBJECTIONS"), Fonts::text(11, QFont::DemiBold), DS::inkFaint, card));
    const std::array<std::pair<Field, const char*>, 3> objections{{
        {Field::objection1, "e.g. Too expensive"},
        {Field::objection2, "e.g. We already use another tool"},
        {Field::objection3, "e.g. Need to check with the team"},
    }};
    // Two to a row: the placeholders are whole sentences.
    auto* objectionGrid = new QGridLayout;
    objectionGrid->setHorizontalSpacing(14);
    objectionGrid->setVerticalSpacing(12);
    for (int i = 0; i < int(objections.size()); ++i) {
        const bool last = i == int(objections.size()) - 1;
        objectionGrid->addWidget(makeField(objections[size_t(i)].first, QStringLiteral("Objection %1").arg(i + 1),
                                           QLatin1String(objections[size_t(i)].second)),
                                 i / 2, i % 2, 1, last && i % 2 == 0 ? 2 : 1);
    }
    card->contentLayout()->addLayout(objectionGrid);
    for (EditField* each : m_fields)
        each->setParent(card);

    m_error->setWordWrap(true);
    m_error->setAlignment(Qt::AlignHCenter);
    m_error->hide();

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    buttons->addWidget(m_skip);
    buttons->addWidget(m_save);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(36, 24, 36, 32);
    layout->setSpacing(0);
    layout->addStretch(1);
    layout->addWidget(new SymbolBadge(QStringLiteral("text.book.closed"), {DS::ink, DS::accent, 52, 26.0, 16.0}, this),
                      0, Qt::AlignHCenter);
    layout->addSpacing(16);
    layout->addWidget(new PageHeading(QStringLiteral("Tell Quiro about your product"),
                                      QStringLiteral("Used to make coaching suggestions specific to your offer.\nYou "
                                                     "can update this anytime in Settings."),
                                      this));
    layout->addSpacing(18);
    layout->addWidget(card);
    layout->addSpacing(16);
    layout->addWidget(m_error);
    layout->addLayout(buttons);
    layout->addStretch(1);

    connect(m_save, &QAbstractButton::clicked, &m_model, &OnboardingModel::next);
    connect(m_skip, &QAbstractButton::clicked, &m_model, &OnboardingModel::next);
    connect(&m_model, &OnboardingModel::saveErrorChanged, this, &PlaybookSetupPage::showSaveError);
}

EditField* PlaybookSetupPage::makeField(Field which, const QString& label, const QString& placeholder)
{
    auto* edit = new EditField(label, placeholder, this);
    edit->setText(m_model.text(which));
    connect(edit, &EditField::textChanged, &m_model,
            [this, which](const QString& text) { m_model.setText(which, text); });
    // Return moves on to the next field in the order they are shown (the order they are made in);
    // the last one saves.
    connect(edit->lineEdit(), &QLineEdit::returnPressed, this, [this, which] {
        if (which == Field::objection3)
            m_save->click();
        else
            focusNextChild();
    });
    m_fields.at(size_t(which)) = edit;
    return edit;
}

void PlaybookSetupPage::showSaveError()
{
    m_error->setText(m_model.saveError().value_or(QString()));
    m_error->setVisible(m_model.saveError().has_value());
}

} // namespace quiro
