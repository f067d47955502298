#include "ui/main/PlaybookView.h"

#include "ui/kit/DS.h"
#include "ui/kit/EditField.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuiroCard.h"
#include "ui/kit/QuiroSectionHeader.h"
#include "ui/kit/SaveButton.h"
#include "ui/kit/SymbolView.h"
#include "ui/main/Banner.h"
#include "ui/main/PageScroll.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace quiro {

namespace {
struct FieldText {
    const char* label;
    const char* placeholder;
};

constexpr FieldText productFields[] = {
    {"Product / Company", "e.g. Quiro \u2014 sales coaching SaaS"},
    {"Value proposition", "e.g. Real-time AI hints during live calls"},
};
constexpr FieldText customerFields[] = {
    {"Target customer", "e.g. B2B SaaS sales teams, 10\u2013200 reps"},
    {"Call type", "e.g. Demo / Discovery / Closing"},
};
constexpr const char* objectionPlaceholders[] = {"e.g. Too expensive", "e.g. We already use another tool",
                                                 "e.g. Need to check with the team"};

// A card of the form: an icon and a title over its fields.
QuiroCard* fieldCard(const QString& icon, const QColor& iconColor, const QString& title, QWidget* parent)
{
    auto* card = new QuiroCard(parent, 18);
    auto* heading = new QHBoxLayout;
    heading->setSpacing(8);
    heading->addWidget(new SymbolView(icon, iconColor, 16, card));
    heading->addWidget(makeLabel(title, Fonts::text(13.5, QFont::DemiBold), DS::ink, card));
    heading->addStretch(1);
    card->contentLayout()->setSpacing(12);
    card->contentLayout()->addLayout(heading);
    return card;
}
} // namespace

PlaybookView::PlaybookView(QString profileFile, QWidget* parent)
    : QWidget(parent)
    , m_profileFile(std::move(profileFile))
    , m_save(nullptr)
    , m_error(nullptr)
    , m_savedDelay(this)
{
    auto* page = new PageScroll(this);
    QWidget* column = page->content();
    page->add(new QuiroSectionHeader(
        QStringLiteral("Playbook"),
        QStringLiteral("What you sell and to whom \u2014 Quiro uses this to make suggestions specific."), column));

    const auto addFields = [this](QuiroCard* card, const auto& texts) {
        for (const FieldText& text : texts) {
            auto* field = new EditField(QString::fromUtf8(text.label), QString::fromUtf8(text.placeholder), card);
            card->contentLayout()->addWidget(field);
            m_fields.append(field);
        }
    };
    auto* cards = new QHBoxLayout;
    cards->setSpacing(0); // the cards' shadow margins already keep them apart
    QuiroCard* product = fieldCard(QStringLiteral("briefcase.fill"), DS::blue, QStringLiteral("What you sell"), column);
    addFields(product, productFields);
    QuiroCard* customer = fieldCard(QStringLiteral("person.2.fill"), DS::green, QStringLiteral("Who you call"), column);
    addFields(customer, customerFields);
    cards->addWidget(product);
    cards->addWidget(customer);
    page->add(cards, product->shadowMargin());

    QuiroCard* objections = fieldCard(QStringLiteral("exclamationmark.shield.fill"), DS::red,
                                      QStringLiteral("Objections to watch for"), column);
    auto* objectionRow = new QHBoxLayout;
    objectionRow->setSpacing(12);
    for (qsizetype i = 0; i < ProductProfile::maxObjections; ++i) {
        auto* field = new EditField(QStringLiteral("Objection %1").arg(i + 1),
                                    QString::fromUtf8(objectionPlaceholders[i]), objections);
        objectionRow->addWidget(field);
        m_fields.append(field);
    }
    objections->contentLayout()->addLayout(objectionRow);
    page->add(objections);

    m_error = new Banner(column);
    page->add(m_error);
    m_save = new SaveButton(column);
    page->add(m_save, Qt::AlignRight);
    page->addStretch();

    for (EditField* field : m_fields)
        connect(field->lineEdit(), &QLineEdit::textEdited, this, [this] { m_edited = true; });
    connect(m_save, &QAbstractButton::clicked, this, [this] { save(); });
}

void PlaybookView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Edits not saved yet survive a look at another tab.
    if (!m_edited)
        load();
}

void PlaybookView::load()
{
    const ProductProfile profile = ProductProfile::load(m_profileFile);
    const QStringList texts{profile.productName, profile.valueProp, profile.targetCustomer, profile.callType};
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        const qsizetype objection = i - texts.size();
        m_fields[i]->setText(objection < 0 ? texts[i] : profile.objections.value(objection));
    }
    m_edited = false;
}

ProductProfile PlaybookView::profile() const
{
    ProductProfile profile;
    profile.productName = m_fields[0]->text().trimmed();
    profile.valueProp = m_fields[1]->text().trimmed();
    profile.targetCustomer = m_fields[2]->text().trimmed();
    profile.callType = m_fields[3]->text().trimmed();
    for (qsizetype i = 4; i < m_fields.size(); ++i) {
        if (const QString objection = m_fields[i]->text().trimmed(); !objection.isEmpty())
            profile.objections.append(objection);
    }
    return profile;
}

WriteResult PlaybookView::save()
{
    const WriteResult written = profile().save(m_profileFile);
    if (!written) {
        m_error->setText(QStringLiteral("Could not save your playbook: %1").arg(written.reason()));
        return written;
    }
    m_error->setText({});
    m_edited = false;
    m_save->setSaved(true);
    m_savedDelay.start(savedMs, [this] { m_save->setSaved(false); });
    return written;
}

} // namespace quiro
