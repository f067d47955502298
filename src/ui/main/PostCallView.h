#pragma once

#include "core/AtomicFile.h"
#include "history/PostCallSummary.h"
#include "history/SessionRecord.h"

#include <QWidget>

#include <optional>

class QLabel;
class QVBoxLayout;

namespace quiro {

class Entrance;
class QuiroCard;
class ScoreRing;
class ValleyMiniStat;

// The debrief of one call: the score ring, the duration and three figures at once, a timeline of
// who talked when, and the analysis as it stands (being made, unavailable, or present). The
// debrief and transcript can be copied or saved as Markdown, the same text `quiro history show
// --markdown` prints.
class PostCallView : public QWidget {
    Q_OBJECT
public:
    // `record` is the stored call behind the summary: its turns draw the timeline and it is what
    // the Markdown is written from. Without one neither is offered.
    PostCallView(PostCallSummary summary, std::optional<SessionRecord> record, QWidget* parent = nullptr);

    const PostCallSummary& summary() const { return m_summary; }
    const std::optional<SessionRecord>& record() const { return m_record; }
    // A later state of the same call (its analysis has arrived; it has been saved again).
    void setSummary(PostCallSummary summary);
    void setRecord(SessionRecord record);

    // Runs the entrance; the score counts up once the view has appeared.
    void appear();

    QString markdown() const;
    void copyMarkdown();
    // Writes the Markdown to `path` and says on the view what happened.
    WriteResult saveMarkdown(const QString& path);
    QString status() const;

    ScoreRing* ring() const { return m_ring; }
    QList<ValleyMiniStat*> stats() const;
    QString durationText() const;
    QWidget* analysis() const { return m_analysis; }

signals:
    void dismissed();

private:
    void showFigures();
    void showTimeline();
    void showAnalysis();
    void chooseFileAndSave();
    void setStatus(const QString& text, bool failure);

    PostCallSummary m_summary;
    std::optional<SessionRecord> m_record;

    QLabel* m_status;
    ScoreRing* m_ring;
    QLabel* m_duration;
    QLabel* m_when;
    QWidget* m_statsRow;
    QuiroCard* m_timelineCard;
    QVBoxLayout* m_timelineSlot;
    QuiroCard* m_analysisCard;
    QWidget* m_analysis = nullptr;
    QWidget* m_exportButtons;
    Entrance* m_entrance;
};

} // namespace quiro
