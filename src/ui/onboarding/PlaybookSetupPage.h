#pragma once

#include "ui/onboarding/OnboardingModel.h"

#include <QWidget>

#include <array>

class QLabel;

namespace quiro {

class AccentButton;
class EditField;
class QuietButton;

// The short product profile: seven fields bound to the model. Both buttons move on, and so both
// save what the fields hold; a save that fails keeps the page and says why.
class PlaybookSetupPage : public QWidget {
public:
    PlaybookSetupPage(OnboardingModel& model, QWidget* parent = nullptr);

    EditField* field(OnboardingModel::Field which) const { return m_fields.at(size_t(which)); }
    AccentButton* saveButton() const { return m_save; }
    QuietButton* skipButton() const { return m_skip; }

private:
    EditField* makeField(OnboardingModel::Field which, const QString& label, const QString& placeholder);
    void showSaveError();

    OnboardingModel& m_model;
    std::array<EditField*, OnboardingModel::fieldCount> m_fields{};
    AccentButton* m_save;
    QuietButton* m_skip;
    QLabel* m_error;
};

} // namespace quiro
