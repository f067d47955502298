#include "ui/kit/QuiroSectionHeader.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

QuiroSectionHeader::QuiroSectionHeader(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(makeLabel(title, Fonts::display(26), DS::ink, this));
    QLabel* detail = makeLabel(subtitle, Fonts::text(13), DS::inkSoft, this);
    detail->setWordWrap(true);
    layout->addWidget(detail);
}

} // namespace quiro
