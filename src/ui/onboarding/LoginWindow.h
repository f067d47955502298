#pragma once

#include <QWidget>

namespace quiro {

class AuthManager;
class LoginView;

// The sign-in window (960 × 640) around LoginView. After a successful sign-in or registration it
// closes itself, then emits `loggedIn` or `registered`, so the caller continues with the window
// already gone.
class LoginWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize windowSize{960, 640};

    explicit LoginWindow(AuthManager& auth, QWidget* parent = nullptr);

    LoginView* view() const { return m_view; }

signals:
    void loggedIn();
    void registered();

private:
    LoginView* m_view;
};

} // namespace quiro
