#include "ui/onboarding/OnboardingView.h"

#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/Spring.h"
#include "ui/onboarding/PermissionsPage.h"
#include "ui/onboarding/PlaybookSetupPage.h"
#include "ui/onboarding/ReadyPage.h"
#include "ui/onboarding/WelcomePage.h"

#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr int dotsTop = 28;
constexpr int dotsHeight = 8;
constexpr double slideDistance = 48.0; // how far a new page travels as it comes in
} // namespace

OnboardingView::OnboardingView(OnboardingModel& model, QWidget* parent)
    : ValleyBackground(parent)
    , m_model(model)
    , m_welcome(new WelcomePage(this))
    , m_permissions(new PermissionsPage(model, this))
    , m_playbook(new PlaybookSetupPage(model, this))
    , m_ready(new ReadyPage(this))
    , m_pages{m_welcome, m_permissions, m_playbook, m_ready}
{
    useSpring<Springs::spring>(m_slide);
    m_slide.setStartValue(slideDistance);
    m_slide.setEndValue(0.0);
    connect(&m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& offset) {
        currentPage()->move(pageArea().topLeft() + QPoint(int(std::lround(offset.toDouble())), 0));
    });
    connect(m_welcome->startButton(), &QAbstractButton::clicked, &m_model, &OnboardingModel::next);
    connect(m_ready, &ReadyPage::completed, this, &OnboardingView::completed);
    connect(&m_model, &OnboardingModel::pageChanged, this, [this] { showPage(true); });
    showPage(false);
}

QWidget* OnboardingView::currentPage() const
{
    return m_pages.at(size_t(m_model.page()));
}

QRect OnboardingView::pageArea() const
{
    const int top = dotsTop + dotsHeight;
    return QRect(0, top, width(), height() - top);
}

void OnboardingView::showPage(bool animated)
{
    QWidget* current = currentPage();
    for (QWidget* page : m_pages) {
        if (page != current)
            page->hide();
    }
    current->setGeometry(pageArea());
    current->show();
    if (animated)
        m_slide.start();
    update(); // the step dots
}

void OnboardingView::showEvent(QShowEvent* event)
{
    ValleyBackground::showEvent(event);
    if (m_checkedOnce)
        return;
    m_checkedOnce = true;
    // Nothing waits for it: the model applies the results only while it exists.
    [[maybe_unused]] QCoro::Task<> check = m_model.silentCheck();
}

void OnboardingView::resizeEvent(QResizeEvent* event)
{
    ValleyBackground::resizeEvent(event);
    m_slide.stop();
    currentPage()->setGeometry(pageArea());
}

void OnboardingView::paintEvent(QPaintEvent* event)
{
    ValleyBackground::paintEvent(event);
    // Step dots: the current step is a wider ink capsule, the others faint dots.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    constexpr double gap = 8.0;
    constexpr double currentWidth = 22.0;
    const int current = int(m_model.page());
    const double total = currentWidth + (m_pages.size() - 1) * (dotsHeight + gap);
    double x = (width() - total) / 2.0;
    for (int i = 0; i < int(m_pages.size()); ++i) {
        const double w = i == current ? currentWidth : dotsHeight;
        painter.setBrush(i == current ? DS::ink : (i < current ? DS::inkFaint : DS::hairline));
        painter.drawRoundedRect(QRectF(x, dotsTop, w, dotsHeight), dotsHeight / 2.0, dotsHeight / 2.0);
        x += w + gap;
    }
}

} // namespace quiro
