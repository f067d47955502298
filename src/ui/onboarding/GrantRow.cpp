#include "ui/onboarding/GrantRow.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/onboarding/SymbolBadge.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

GrantRow::GrantRow(const QString& icon, const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent)
    , m_badge(new SymbolBadge(icon, {DS::ink, DS::accentSoft, 40, 20.0, 12.0}, this))
    , m_detail(makeLabel(detail, Fonts::text(12), DS::inkSoft, this))
    , m_mark(new SymbolBadge({}, {Qt::transparent, Qt::transparent, 24, 22.0, 0.0}, this))
    , m_icon(icon)
{
    m_detail->setWordWrap(true);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(makeLabel(title, Fonts::text(13.5, QFont::DemiBold), DS::ink, this));
    texts->addWidget(m_detail);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 8, 4, 8);
    layout->setSpacing(14);
    layout->addWidget(m_badge, 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    layout->addWidget(m_mark, 0, Qt::AlignVCenter);
}

void GrantRow::setStatus(std::optional<bool> granted, const QString& detail)
{
    m_detail->setText(detail);
    if (!granted) {
        m_badge->setSymbol(m_icon, DS::ink, DS::accentSoft);
        m_mark->setSymbol({}, Qt::transparent, Qt::transparent);
    } else if (*granted) {
        m_badge->setSymbol(m_icon, DS::moss, DS::mossSoft);
        m_mark->setSymbol(QStringLiteral("checkmark.circle.fill"), DS::moss, Qt::transparent);
    } else {
        m_badge->setSymbol(m_icon, DS::clay, DS::redSoft);
        m_mark->setSymbol(QStringLiteral("exclamationmark.triangle.fill"), DS::clay, Qt::transparent);
    }
    setLabelColor(m_detail, granted && !*granted ? DS::clay : DS::inkSoft);
}

QString GrantRow::detail() const
{
    return m_detail->text();
}

} // namespace quiro
