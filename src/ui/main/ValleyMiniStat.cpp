#include "ui/main/ValleyMiniStat.h"

#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

ValleyMiniStat::ValleyMiniStat(const QString& label, const QString& value, bool warn, QWidget* parent)
    : QWidget(parent)
    , m_value(value)
    , m_warn(warn)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(makeLabel(value, Fonts::display(20), warn ? DS::red : DS::ink, this));
    layout->addWidget(makeLabel(label, Fonts::text(11), DS::inkFaint, this));
}

} // namespace quiro
