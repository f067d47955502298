#include "ui/onboarding/OnboardingWindow.h"

#include "core/Preferences.h"
#include "ui/kit/AppIcon.h"
#include "ui/onboarding/OnboardingView.h"

#include <QVBoxLayout>

namespace quiro {

OnboardingWindow::OnboardingWindow(QWidget* parent)
    : OnboardingWindow(OnboardingModel::Probes{}, parent)
{
}

OnboardingWindow::OnboardingWindow(OnboardingModel::Probes probes, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_model(std::move(probes))
    , m_view(new OnboardingView(m_model, this))
{
    setWindowTitle(QStringLiteral("Welcome to Quiro"));
    setWindowIcon(appIcon());
    setFixedSize(windowSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view, &OnboardingView::completed, this, [this] {
        Preferences::setOnboardingDone(true);
        emit completed();
    });
}

} // namespace quiro
