#pragma once

#include "ui/onboarding/OnboardingModel.h"

#include <QWidget>

namespace quiro {

class OnboardingView;

// The first-run window (640 × 760) with a fresh model. When the user starts coaching on the last
// page it remembers that onboarding is done ("onboarding_done_v2") and emits `completed`; the
// caller closes it.
class OnboardingWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize windowSize{640, 760};

    explicit OnboardingWindow(QWidget* parent = nullptr);
    // With device checks other than the real ones (tests).
    explicit OnboardingWindow(OnboardingModel::Probes probes, QWidget* parent = nullptr);

    OnboardingModel& model() { return m_model; }
    OnboardingView* view() const { return m_view; }

signals:
    void completed();

private:
    OnboardingModel m_model;
    OnboardingView* m_view;
};

} // namespace quiro
