#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;

namespace quiro {

class AccentButton;
class GrantRow;
class OnboardingModel;
class QuietButton;

// Whether each side of a call can be heard here, with what to do when not. While shown it checks
// again every 1.5 s, so plugging in a microphone or choosing an output in the sound settings shows
// up without a click.
class PermissionsPage : public QWidget {
public:
    static constexpr int pollIntervalMs = 1500;

    PermissionsPage(OnboardingModel& model, QWidget* parent = nullptr);

    AccentButton* mainButton() const { return m_main; }
    GrantRow* microphoneRow() const { return m_mic; }
    GrantRow* playbackRow() const { return m_playback; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void poll();
    void refresh();
    void mainAction();
    void openSoundSettings();

    OnboardingModel& m_model;
    GrantRow* m_mic;
    GrantRow* m_playback;
    AccentButton* m_main;
    QuietButton* m_settings;
    QLabel* m_settingsNote;
    QTimer m_poll;
    bool m_polling = false;
};

} // namespace quiro
