#pragma once

#include "history/PostCallAnalysis.h"

#include <QStringList>
#include <QWidget>

namespace quiro {

// The post-call analysis, top to bottom: the summary, what worked, what to improve, missed
// signals, objections, next steps and a closing note on the talk share. A block appears only when
// the analysis has it (a list: non-empty, and strings throughout).
class ValleyAnalysisContent : public QWidget {
public:
    explicit ValleyAnalysisContent(const PostCallAnalysis& analysis, QWidget* parent = nullptr);

    // The titles of the sections shown, in order.
    const QStringList& sections() const { return m_sections; }

private:
    void addSection(const QString& icon, const QColor& tint, const QString& title, const QStringList& items);
    void addObjections(const QList<Objection>& objections);
    void addTitle(const QString& icon, const QColor& tint, const QString& title);

    QStringList m_sections;
};

} // namespace quiro
