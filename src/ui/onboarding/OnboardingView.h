#pragma once

#include "ui/kit/ValleyBackground.h"
#include "ui/onboarding/OnboardingModel.h"

#include <QVariantAnimation>

#include <array>

namespace quiro {

class PermissionsPage;
class PlaybookSetupPage;
class ReadyPage;
class WelcomePage;

// The first-run flow over one model: shows the page the model names, sliding each new page in on
// the design's spring, with the step dots above it. Checks the devices once when first shown.
// `completed` is emitted when the user starts coaching on the last page.
class OnboardingView : public ValleyBackground {
    Q_OBJECT
public:
    explicit OnboardingView(OnboardingModel& model, QWidget* parent = nullptr);

    WelcomePage* welcomePage() const { return m_welcome; }
    PermissionsPage* permissionsPage() const { return m_permissions; }
    PlaybookSetupPage* playbookPage() const { return m_playbook; }
    ReadyPage* readyPage() const { return m_ready; }
    QWidget* currentPage() const;

signals:
    void completed();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showPage(bool animated);
    QRect pageArea() const;

    OnboardingModel& m_model;
    WelcomePage* m_welcome;
    PermissionsPage* m_permissions;
    PlaybookSetupPage* m_playbook;
    ReadyPage* m_ready;
    std::array<QWidget*, 4> m_pages;
    QVariantAnimation m_slide;
    bool m_checkedOnce = false;
};

} // namespace quiro
