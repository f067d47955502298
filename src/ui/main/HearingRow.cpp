#include "ui/main/HearingRow.h"

#include "audio/AudioCapture.h"
#include "audio/HearingCheck.h"
#include "audio/SystemAudioCapture.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuietButton.h"
#include "ui/kit/SoundSettings.h"
#include "ui/kit/SymbolView.h"
#include "ui/main/LevelMeter.h"
#include "ui/main/LiveLevel.h"
#include "ui/main/ProgressSpinner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quiro {

namespace {
enum Page { checkingPage, heardPage, problemPage };

std::unique_ptr<AudioSource> captureFor(HearingRow::Side side)
{
    if (side == HearingRow::Side::seller)
        return std::make_unique<AudioCapture>();
    return std::make_unique<SystemAudioCapture>();
}

QWidget* iconBadge(const QString& symbol, QWidget* parent)
{
    auto* badge = new SymbolView(symbol, DS::ink, 17, parent);
    badge->setFixedSize(34, 34);
    badge->setAutoFillBackground(true);
    QPalette palette = badge->palette();
    palette.setColor(QPalette::Window, DS::canvas2);
    badge->setPalette(palette);
    return badge;
}
} // namespace

HearingRow::HearingRow(Side side, QWidget* parent)
    : QWidget(parent)
    , m_side(side)
    , m_level(new LiveLevel([side] { return captureFor(side); }, this))
    , m_mark(new QStackedWidget(this))
    , m_device(makeLabel({}, Fonts::text(11.5), DS::inkSoft, this))
    , m_meter(new LevelMeter(this))
    , m_reason(makeLabel({}, Fonts::text(12), DS::red, this))
{
    const bool seller = side == Side::seller;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(14);
    layout->addWidget(iconBadge(seller ? QStringLiteral("mic") : QStringLiteral("speaker.wave.2"), this), 0,
                      Qt::AlignTop);

    auto* text = new QVBoxLayout;
    text->setSpacing(3);
    text->addWidget(makeLabel(seller ? QStringLiteral("Your voice") : QStringLiteral("Their voice"),
                              Fonts::text(13.5, QFont::DemiBold), DS::ink, this));
    text->addWidget(makeLabel(seller ? QStringLiteral("Microphone \u2014 hears your side of the call")
                                     : QStringLiteral("The computer's sound \u2014 hears the client through Zoom, "
                                                      "Meet, Teams"),
                              Fonts::text(12), DS::inkFaint, this));

    m_bodies.append(makeLabel(QStringLiteral("Checking\u2026"), Fonts::text(11.5), DS::inkFaint, this));
    auto* heard = new QWidget(this);
    auto* heardRow = new QHBoxLayout(heard);
    heardRow->setContentsMargins(0, 0, 0, 0);
    heardRow->addWidget(m_device, 1);
    heardRow->addWidget(m_meter);
    m_bodies.append(heard);

    auto* problem = new QWidget(this);
    auto* problemColumn = new QVBoxLayout(problem);
    problemColumn->setContentsMargins(0, 0, 0, 0);
    m_reason->setWordWrap(true);
    problemColumn->addWidget(m_reason);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(4);
    if (SoundSettings::find()) {
        auto* open = new QuietButton(QStringLiteral("Open sound settings"), problem);
        connect(open, &QAbstractButton::clicked, this, [this] {
            if (const std::optional<QString> failure = SoundSettings::open())
                showProblem(*failure);
        });
        actions->addWidget(open);
    } else {
        QLabel* advice = makeLabel(SoundSettings::notInstalled, Fonts::text(12), DS::inkSoft, problem);
        advice->setWordWrap(true);
        problemColumn->addWidget(advice);
    }
    auto* again = new QuietButton(QStringLiteral("Check again"), problem);
    connect(again, &QAbstractButton::clicked, this, &HearingRow::activate);
    actions->addWidget(again);
    actions->addStretch(1);
    problemColumn->addLayout(actions);
    m_bodies.append(problem);
    // Not stacked: a stack would keep the height of its tallest page.
    for (QWidget* body : m_bodies)
        text->addWidget(body);
    layout->addLayout(text, 1);

    m_mark->addWidget(new ProgressSpinner(DS::inkFaint, 16, m_mark));
    m_mark->addWidget(new SymbolView(QStringLiteral("checkmark.circle.fill"), DS::green, 18, m_mark));
    m_mark->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), DS::red, 18, m_mark));
    m_mark->setFixedSize(20, 20);
    layout->addWidget(m_mark, 0, Qt::AlignTop);

    connect(m_level, &LiveLevel::measured, m_meter, &LevelMeter::setLevel);
    showChecking();
}

QString HearingRow::detail() const
{
    return m_status == Status::problem ? m_reason->text() : m_device->text();
}

void HearingRow::activate()
{
    deactivate();
    check(m_generation);
}

void HearingRow::deactivate()
{
    ++m_generation;
    m_level->stop();
    m_meter->clear();
    showChecking();
    m_status = Status::idle;
}

QCoro::Task<> HearingRow::check(quint64 generation)
{
    QPointer<HearingRow> self(this);
    m_status = Status::checking;
    HearingCheck::Result result;
    if (m_side == Side::seller)
        result = co_await HearingCheck::microphone();
    else
        result = co_await HearingCheck::playback();
    if (!self || generation != m_generation)
        co_return;
    if (!result.ok) {
        showProblem(result.reason);
        co_return;
    }
    const std::optional<AudioSource::Failure> failure = co_await m_level->start();
    if (!self || generation != m_generation)
        co_return;
    if (failure)
        showProblem(failure->message);
    else
        showHeard(result.device);
}

void HearingRow::showBody(int page)
{
    for (qsizetype i = 0; i < m_bodies.size(); ++i)
        m_bodies[i]->setVisible(i == page);
}

void HearingRow::showChecking()
{
    m_mark->setCurrentIndex(checkingPage);
    showBody(checkingPage);
}

void HearingRow::showHeard(const QString& device)
{
    m_status = Status::heard;
    m_device->setText(device);
    m_mark->setCurrentIndex(heardPage);
    showBody(heardPage);
}

void HearingRow::showProblem(const QString& reason)
{
    m_status = Status::problem;
    // The audio library words some reasons as the rest of a sentence ("no input device — …").
    QString sentence = reason;
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toUpper();
    m_reason->setText(sentence);
    m_mark->setCurrentIndex(problemPage);
    showBody(problemPage);
}

} // namespace quiro
