#include "ui/main/RecoveryPrompt.h"

#include "history/DebriefText.h"
#include "session/SessionController.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuietButton.h"
#include "ui/kit/SymbolView.h"
#include "ui/kit/ValleyButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>

namespace quiro {

namespace {
QWidget* buttonRow(std::initializer_list<QWidget*> buttons, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (QWidget* button : buttons) {
        button->setParent(row);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    return row;
}
} // namespace

RecoveryPrompt::RecoveryPrompt(SessionController& controller, QWidget* parent)
    : Card({16.0, DS::accentSoft, withOpacity(DS::ink, 0.08), {}}, 16, parent)
    , m_controller(controller)
    , m_message(makeLabel({}, Fonts::text(13.5, QFont::Medium), DS::ink, this))
    , m_actions(new QStackedWidget(this))
    , m_save(new ValleyButton(QStringLiteral("Save to history"), QStringLiteral("checkmark"), this))
    , m_discard(new QuietButton(QStringLiteral("Discard"), this))
    , m_confirmDiscard(new QuietButton(QStringLiteral("Discard for good"), this))
    , m_keep(new QuietButton(QStringLiteral("Keep it"), this))
{
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    top->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), DS::ink, 16.0, this), 0,
                   Qt::AlignTop);
    m_message->setWordWrap(true);
    top->addWidget(m_message, 1);
    contentLayout()->addLayout(top);

    m_actions->addWidget(buttonRow({m_save, m_discard}, m_actions));
    auto* question = makeLabel(QStringLiteral("Its transcript will be deleted."), Fonts::text(13), DS::inkSoft, this);
    m_actions->addWidget(buttonRow({question, m_confirmDiscard, m_keep}, m_actions));
    contentLayout()->addWidget(m_actions);

    connect(m_save, &QAbstractButton::clicked, this, [this] { m_controller.saveRecoveredCheckpoint(); });
    connect(m_discard, &QAbstractButton::clicked, this, [this] { confirming(true); });
    connect(m_keep, &QAbstractButton::clicked, this, [this] { confirming(false); });
    connect(m_confirmDiscard, &QAbstractButton::clicked, this, [this] { m_controller.dismissRecoveredCheckpoint(); });
    connect(&m_controller, &SessionController::recoveredCheckpointChanged, this, &RecoveryPrompt::refresh);
    refresh();
}

QString RecoveryPrompt::message() const
{
    return m_message->text();
}

void RecoveryPrompt::confirming(bool asking)
{
    m_actions->setCurrentIndex(asking ? 1 : 0);
}

void RecoveryPrompt::refresh()
{
    const std::optional<SessionCheckpoint>& call = m_controller.recoveredCheckpoint();
    setVisible(call.has_value());
    confirming(false);
    if (!call)
        return;
    const qsizetype turns = call->turns.size();
    m_message->setText(QStringLiteral("A call from %1 ended unexpectedly \u2014 %2 %3 recovered")
                           .arg(DebriefText::localTime(call->startedAt, QStringLiteral("HH:mm")))
                           .arg(turns)
                           .arg(turns == 1 ? "turn" : "turns"));
}

} // namespace quiro
