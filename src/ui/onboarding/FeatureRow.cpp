#include "ui/onboarding/FeatureRow.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/onboarding/SymbolBadge.h"

#include <QHBoxLayout>
#include <QLabel>

namespace quiro {

FeatureRow::FeatureRow(const QString& icon, const QString& text, const QColor& color, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(14);
    layout->addWidget(new SymbolBadge(icon, {color, withOpacity(color, 0.14), 36, 18.0, 10.0}, this));
    layout->addWidget(makeLabel(text, Fonts::text(14, QFont::Medium), DS::ink, this), 1);
}

} // namespace quiro
