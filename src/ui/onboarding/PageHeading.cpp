#include "ui/onboarding/PageHeading.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

PageHeading::PageHeading(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (QLabel* label : {makeLabel(title, Fonts::display(28), DS::ink, this),
                          makeLabel(subtitle, Fonts::text(14), DS::inkSoft, this)}) {
        label->setAlignment(Qt::AlignHCenter);
        label->setWordWrap(true);
        layout->addWidget(label);
    }
}

} // namespace quiro
