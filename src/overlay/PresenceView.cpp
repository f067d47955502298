#include "overlay/PresenceView.h"

#include "overlay/BreathingDot.h"
#include "overlay/FloatingWindow.h"
#include "overlay/GlassButton.h"
#include "overlay/ScoreCard.h"
#include "overlay/ScorePill.h"
#include "overlay/SessionToggleButton.h"
#include "overlay/SessionWindowModel.h"
#include "overlay/TranscriptPane.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Glass.h"
#include "ui/kit/Labels.h"
#include "ui/kit/RoundedSurface.h"
#include "ui/kit/SymbolView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace quiro {

namespace {
constexpr double cornerRadius = 18.0;
constexpr int padding = 12;
constexpr int cardGap = 8; // between the score pill and its card
const QString audioWarning =
    QStringLiteral("Only your mic is heard — the computer's sound can't be recorded. Run quiro doctor.");

QFont titleFont()
{
    return Fonts::display(14);
}

QFont hintFont()
{
    return Fonts::display(16.5);
}
} // namespace

PresenceView::PresenceView(SessionWindowModel& model, QWidget* parent)
    : OverlayView(model, parent)
    , m_toggle(new SessionToggleButton(34, 11, SessionToggleButton::Tips::shown, this))
    , m_dot(new BreathingDot(Glass::live, 10, this))
    , m_hintLabel(makeLabel({}, Fonts::text(9.5, QFont::Bold), Glass::accent, this))
    , m_title(makeLabel({}, titleFont(), Glass::text, this))
    , m_scorePill(new ScorePill(this))
    , m_transcriptButton(new GlassButton(QStringLiteral("text.bubble"), Glass::textSoft, {}, this))
    , m_warning(buildWarningRow())
    , m_transcript(new TranscriptPane(model, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(10);
    layout->addWidget(buildBar());
    layout->addWidget(m_warning);
    layout->addWidget(m_transcript);
    layout->addStretch(1); // while the window grows towards a new size, the content stays on top

    connect(m_toggle, &QAbstractButton::clicked, this, [&model] { run(model.onToggle); });
    connect(m_scorePill, &QAbstractButton::clicked, this, &PresenceView::toggleScoreCard);
    connect(m_transcriptButton, &QAbstractButton::clicked, this,
            [&model] { model.setShowTranscript(!model.showTranscript()); });

    for (const auto changed : {&SessionWindowModel::runningChanged, &SessionWindowModel::hintChanged,
                               &SessionWindowModel::statusTextChanged, &SessionWindowModel::lastScoreChanged,
                               &SessionWindowModel::audioErrorChanged, &SessionWindowModel::showTranscriptChanged})
        connect(&model, changed, this, &PresenceView::refresh);
    refresh();
}

PresenceView::~PresenceView() = default;

QWidget* PresenceView::buildBar()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(m_toggle, 0, Qt::AlignVCenter);
    row->addWidget(m_dot, 0, Qt::AlignVCenter);
    row->addWidget(buildTextColumn(), 1);
    row->addWidget(m_scorePill, 0, Qt::AlignVCenter);
    row->addSpacing(4);
    row->addWidget(buildControls(), 0, Qt::AlignVCenter);
    return bar;
}

QWidget* PresenceView::buildTextColumn()
{
    auto* column = new QWidget(this);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addStretch(1);
    layout->addWidget(m_hintLabel);
    m_title->setWordWrap(true);
    m_title->setMinimumHeight(idleHeight - 2 * padding);
    layout->addWidget(m_title);
    layout->addStretch(1);
    return column;
}

QWidget* PresenceView::buildControls()
{
    auto* controls = new QWidget(this);
    const GlassButton::Style restartStyle{11.0, QFont::Bold, 26, white(0.1)};
    auto* restart = new GlassButton(QStringLiteral("arrow.counterclockwise"), Glass::textSoft,
                                    QStringLiteral("New call"), restartStyle, controls);
    auto* capture = new GlassButton(QStringLiteral("eye"), Glass::accent, captureTip(), controls);
    auto* settings = new GlassButton(QStringLiteral("gearshape"), Glass::textSoft, settingsTip(), controls);
    const GlassButton::Style closeStyle{10.0, QFont::Bold, 26, Qt::transparent};
    auto* close =
        new GlassButton(QStringLiteral("xmark"), Glass::textSoft, QStringLiteral("Close"), closeStyle, controls);
    auto* layout = new QHBoxLayout(controls);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    for (QWidget* control : std::initializer_list<QWidget*>{restart, m_transcriptButton, capture, settings, close})
        layout->addWidget(control);

    connect(restart, &QAbstractButton::clicked, this, [this] { run(model().onRestart); });
    connect(settings, &QAbstractButton::clicked, this, [this] { run(model().onOpenSettings); });
    connect(close, &QAbstractButton::clicked, this, [this] { run(model().onClose); });
    return controls;
}

QWidget* PresenceView::buildWarningRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(8);
    layout->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), Glass::warn, 14, row), 0,
                      Qt::AlignTop);
    QLabel* text = makeLabel(audioWarning, Fonts::text(11.5, QFont::Medium), Glass::warn, row);
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    return row;
}

void PresenceView::refresh()
{
    const SessionWindowModel& m = model();
    m_toggle->setRunning(m.running());
    m_dot->setVisible(m.running());

    const auto& hint = m.hint();
    m_hintLabel->setVisible(hint && !hint->label.isEmpty());
    if (hint) {
        m_hintLabel->setText(hint->label);
        m_title->setText(hint->text);
        m_title->setFont(hintFont());
    } else {
        m_title->setFont(titleFont());
        if (m.running())
            m_title->setText(m.statusText());
        else
            m_title->setText(m.lastScore() ? QStringLiteral("Call ended") : QStringLiteral("Quiro"));
    }

    m_scorePill->setVisible(m.lastScore().has_value());
    if (m.lastScore())
        m_scorePill->setScore(*m.lastScore());
    else
        closeScoreCard();

    m_transcriptButton->setIcon(QStringLiteral("text.bubble"), m.showTranscript() ? Glass::accent : Glass::textSoft);
    m_transcriptButton->setTip(m.showTranscript() ? QStringLiteral("Hide transcript")
                                                  : QStringLiteral("Show transcript"));
    m_warning->setVisible(m.audioError());
    m_transcript->setVisible(m.showTranscript());
    reportSize();
}

QSize PresenceView::currentSize() const
{
    const QLayout* box = layout();
    const int height = box->hasHeightForWidth() ? box->totalHeightForWidth(barWidth) : box->totalSizeHint().height();
    return {barWidth, qMax(height, idleHeight)};
}

QPainterPath PresenceView::shape(const QRectF& bounds) const
{
    return RoundedSurface::path(bounds, cornerRadius);
}

void PresenceView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    RoundedSurface::paint(painter, rect(), cornerRadius, Glass::panelBackground, white(0.08));
}

void PresenceView::toggleScoreCard()
{
    if (m_scoreCard) {
        closeScoreCard();
        return;
    }
    const auto score = model().lastScore();
    if (!score)
        return;
    m_scoreCard = std::make_unique<FloatingWindow>();
    auto* card = new ScoreCard(
        *score,
        [this] {
            closeScoreCard();
            run(model().onOpenSettings); // the main window presents the last call's debrief
        },
        m_scoreCard.get());
    m_scoreCard->setShape(&ScoreCard::shape);
    m_scoreCard->setContent(card);
    m_scoreCard->resize(card->sizeHint().expandedTo(card->minimumSizeHint()));
    window()->installEventFilter(this); // the card follows the panel when it is dragged
    placeScoreCard();
    m_scoreCard->show();
}

void PresenceView::closeScoreCard()
{
    if (!m_scoreCard)
        return;
    window()->removeEventFilter(this);
    m_scoreCard.reset();
}

void PresenceView::placeScoreCard()
{
    const QPoint pillBottom = m_scorePill->mapToGlobal(QPoint(m_scorePill->width() / 2, m_scorePill->height()));
    const QPoint topLeft(pillBottom.x() - m_scoreCard->width() / 2, pillBottom.y() + cardGap);
    m_scoreCard->move(keptOnScreen(QRect(topLeft, m_scoreCard->size())).topLeft());
}

bool PresenceView::eventFilter(QObject* watched, QEvent* event)
{
    if (m_scoreCard && watched == window() && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        placeScoreCard();
    return OverlayView::eventFilter(watched, event);
}

void PresenceView::hideEvent(QHideEvent* event)
{
    closeScoreCard();
    OverlayView::hideEvent(event);
}

} // namespace quiro
