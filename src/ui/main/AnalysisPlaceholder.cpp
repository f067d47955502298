#include "ui/main/AnalysisPlaceholder.h"

#include "history/PostCallAnalysis.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/SymbolView.h"
#include "ui/main/ProgressSpinner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

AnalysisPlaceholder::AnalysisPlaceholder(Kind kind, QWidget* parent)
    : QWidget(parent)
    , m_kind(kind)
{
    const bool loading = kind == Kind::loading;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 8, 4, 8);
    layout->setSpacing(14);
    if (loading)
        layout->addWidget(new ProgressSpinner(DS::green, 20, this), 0, Qt::AlignTop);
    else
        layout->addWidget(new SymbolView(QStringLiteral("waveform.badge.exclamationmark"), DS::inkFaint, 22, this), 0,
                          Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    text->addWidget(makeLabel(loading ? AnalysisSection::pendingTitle : AnalysisSection::unavailableTitle,
                              Fonts::text(13, loading ? QFont::Normal : QFont::DemiBold), DS::ink, this));
    QLabel* detail = makeLabel(loading ? AnalysisSection::pendingDetail : AnalysisSection::unavailableDetail,
                               Fonts::text(11.5), DS::inkFaint, this);
    detail->setWordWrap(true);
    text->addWidget(detail);
    layout->addLayout(text, 1);
}

} // namespace quiro
