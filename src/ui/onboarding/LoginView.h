#pragma once

#include <QWidget>

#include <qcoro/qcorotask.h>

#include <optional>

class QLabel;

namespace quiro {

class AccentButton;
class AuthManager;
class EditField;
class QuietButton;

// Sign in or create an account: one form that switches between the two, beside the brand panel.
// Submits through the account manager and reports success by signal; it never keeps credentials.
// Return submits, Escape clears the error; a failure leaves everything typed in place.
class LoginView : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumPasswordLength = 6;

    explicit LoginView(AuthManager& auth, QWidget* parent = nullptr);

    bool isRegister() const { return m_register; }
    void setRegister(bool isRegister);
    bool isBusy() const { return m_busy; }
    // E-mail given and the password long enough, and no request running.
    bool canSubmit() const;
    std::optional<QString> error() const { return m_error; }

    EditField* nameField() const { return m_name; }
    EditField* emailField() const { return m_email; }
    EditField* passwordField() const { return m_password; }
    AccentButton* submitButton() const { return m_submit; }
    QuietButton* switchButton() const { return m_switch; }

    void submit();

signals:
    void loggedIn();
    void registered();

private:
    QCoro::Task<> runSubmit();
    void setBusy(bool busy);
    void setError(std::optional<QString> error);
    void refresh();

    AuthManager& m_auth;
    bool m_register = false;
    bool m_busy = false;
    std::optional<QString> m_error;

    QLabel* m_title;
    QLabel* m_subtitle;
    EditField* m_name;
    EditField* m_email;
    EditField* m_password;
    QLabel* m_errorLabel;
    AccentButton* m_submit;
    QLabel* m_switchPrompt;
    QuietButton* m_switch;
};

} // namespace quiro
