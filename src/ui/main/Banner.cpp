#include "ui/main/Banner.h"

#include "core/Text.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/SymbolView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

Banner::Banner(QWidget* parent)
    : Card({12.0, DS::redSoft, Qt::transparent, {}}, 12, parent)
    , m_text(makeLabel({}, Fonts::text(13), DS::ink, this))
{
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), DS::red, 16.0, this), 0,
                   Qt::AlignTop);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(m_text, 1);
    contentLayout()->addLayout(row);
    hide();
}

void Banner::setText(const QString& text)
{
    m_text->setText(Text::displayable(text));
    setVisible(!text.isEmpty());
}

QString Banner::text() const
{
    return m_text->text();
}

} // namespace quiro
