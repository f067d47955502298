#include "ui/main/ValleyEmptyState.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/SymbolView.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

ValleyEmptyState::ValleyEmptyState(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 28, 24, 28);
    layout->setSpacing(8);
    layout->addWidget(new SymbolView(QStringLiteral("waveform"), DS::inkFaint, 30.0, this), 0, Qt::AlignHCenter);
    QLabel* title = makeLabel(QStringLiteral("No calls yet"), Fonts::display(15), DS::ink, this);
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    QLabel* detail =
        makeLabel(QStringLiteral("Start your first call to see coaching hints and post-call analysis here."),
                  Fonts::text(13), DS::inkFaint, this);
    detail->setAlignment(Qt::AlignHCenter);
    detail->setWordWrap(true);
    layout->addWidget(detail);
}

} // namespace quiro
