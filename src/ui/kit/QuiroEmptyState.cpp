#include "ui/kit/QuiroEmptyState.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/SymbolView.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

QuiroEmptyState::QuiroEmptyState(const QString& icon, const QString& text, QWidget* parent)
    : QWidget(parent)
{
    const QColor tone = withOpacity(DS::inkFaint, 0.7);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 24, 16, 24);
    layout->setSpacing(10);
    layout->addWidget(new SymbolView(icon, tone, 28.0, this), 0, Qt::AlignHCenter);
    QLabel* line = makeLabel(text, Fonts::text(13), tone, this);
    line->setAlignment(Qt::AlignHCenter);
    line->setWordWrap(true);
    layout->addWidget(line);
}

} // namespace quiro
