// The login window against the real local service (quiro-service on a free port, its data in a
// temporary home), drawn off screen: the form's rules, a refused sign-in, and a registration.
#include "ServiceProcess.h"
#include "account/AuthManager.h"
#include "account/TokenStore.h"
#include "support/AnimationClock.h"
#include "support/Pixels.h"
#include "support/TestSupport.h"
#include "ui/kit/AccentButton.h"
#include "ui/kit/DS.h"
#include "ui/kit/EditField.h"
#include "ui/kit/QuietButton.h"
#include "ui/onboarding/LoginView.h"
#include "ui/onboarding/LoginWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace quiro;

class TestLogin : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<test::TempHome>();
        m_service = std::make_unique<ServiceProcess>(QStringLiteral(QUIRO_SERVICE_BINARY),
                                                     m_home->file(QStringLiteral("service")), ServiceProcess::Tls::off);
        QString error;
        QVERIFY2(m_service->start(&error), qPrintable(error));
        const Config config{m_service->apiBase(), Config::defaultHintModel, Config::defaultLanguage};
        m_tokens = std::make_unique<TokenStore>(TokenStore::Backend::fileOnly);
        m_auth = std::make_unique<AuthManager>(config, m_tokens.get(), Clock::system());
        m_window = std::make_unique<LoginWindow>(*m_auth);
        m_window->show();
        m_clock.advanceBy(100);
    }

    void cleanup()
    {
        m_window.reset();
        m_auth.reset();
        m_tokens.reset();
        m_service.reset();
        m_home.reset();
    }

    void submitNeedsAnEmailAndSixCharacters()
    {
        LoginView& view = *m_window->view();
        QTest::keyClicks(view.passwordField()->lineEdit(), QStringLiteral("secret"));
        QVERIFY(!view.submitButton()->isEnabled()); // no e-mail yet
        QTest::keyClicks(view.emailField()->lineEdit(), QStringLiteral("sam@example.com"));
        QVERIFY(view.submitButton()->isEnabled());
        QTest::keyClick(view.passwordField()->lineEdit(), Qt::Key_Backspace);
        QVERIFY(!view.canSubmit());
        QVERIFY(!view.submitButton()->isEnabled());
        // Return with a password too short sends nothing.
        QTest::keyClick(view.passwordField()->lineEdit(), Qt::Key_Return);
        QVERIFY(!view.isBusy());
        // The password is never shown as typed.
        QVERIFY(!view.passwordField()->lineEdit()->displayText().contains(QStringLiteral("secre")));
    }

    void refusedSignInKeepsTheEmailAndShowsWhy()
    {
        LoginView& view = *m_window->view();
        QSignalSpy signedIn(m_window.get(), &LoginWindow::loggedIn);
        QTest::keyClicks(view.emailField()->lineEdit(), QStringLiteral("nobody@example.com"));
        QTest::keyClicks(view.passwordField()->lineEdit(), QStringLiteral("wrong-password"));
        QTest::keyClick(view.passwordField()->lineEdit(), Qt::Key_Return);
        QVERIFY(view.isBusy());
        QVERIFY(!view.submitButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!view.isBusy(), 10000);

        QCOMPARE(view.error(), QStringLiteral("Invalid email or password"));
        QLabel* line = errorLine(view);
        QVERIFY(line && line->isVisible());
        QCOMPARE(line->text(), QStringLiteral("Invalid email or password"));
        QCOMPARE(view.emailField()->text(), QStringLiteral("nobody@example.com"));
        QVERIFY(view.submitButton()->isEnabled());
        QVERIFY(!m_auth->isLoggedIn());
        QCOMPARE(signedIn.size(), 0);
        QVERIFY(m_window->isVisible());
        m_clock.advanceBy(100);
        test::saveScreenshot(m_window->grab().toImage(), QStringLiteral("login-sign-in-error"));

        QTest::keyClick(view.emailField()->lineEdit(), Qt::Key_Escape);
        QCOMPARE(view.error(), std::nullopt);
        QVERIFY(!line->isVisible());
    }

    void registeringSignsInAndSwitchingBackHidesTheName()
    {
        // Someone already holds the address that is tried first.
        QVERIFY(!QCoro::waitFor(m_auth->registerAccount(QStringLiteral("taken@example.com"),
                                                        QStringLiteral("secret123"), QStringLiteral("First"))));
        QCoro::waitFor(m_auth->logout());

        LoginView& view = *m_window->view();
        QSignalSpy registered(m_window.get(), &LoginWindow::registered);
        QVERIFY(view.nameField()->isHidden());
        QTest::mouseClick(view.switchButton(), Qt::LeftButton);
        QVERIFY(view.isRegister());
        QVERIFY(view.nameField()->isVisible());

        QTest::keyClicks(view.nameField()->lineEdit(), QStringLiteral("Sam"));
        QTest::keyClicks(view.emailField()->lineEdit(), QStringLiteral("taken@example.com"));
        QTest::keyClicks(view.passwordField()->lineEdit(), QStringLiteral("secret123"));
        QTest::mouseClick(view.submitButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(view.error().has_value(), 10000);
        QCOMPARE(*view.error(), QStringLiteral("An account with this email already exists"));
        m_clock.advanceBy(100);
        const QImage shot = m_window->grab().toImage();
        test::saveScreenshot(shot, QStringLiteral("login-register-error"));
        // The brand panel is dark ink down to its corner; the error is in clay.
        QVERIFY(test::sameColor(shot.pixelColor(m_window->width() - 3, 3), DS::ink, 3));

        view.emailField()->setText(QStringLiteral("sam@example.com"));
        QTest::keyClick(view.emailField()->lineEdit(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(registered.size(), 1, 10000);
        QVERIFY(m_auth->isLoggedIn());
        QCOMPARE(m_auth->name(), QStringLiteral("Sam"));
        QVERIFY(!m_window->isVisible()); // closed before the caller hears of it

        QTest::mouseClick(view.switchButton(), Qt::LeftButton);
        QVERIFY(!view.isRegister());
        QVERIFY(view.nameField()->isHidden());
    }

private:
    // The error line under the form, as drawn.
    QLabel* errorLine(LoginView& view) const
    {
        for (QLabel* label : view.findChildren<QLabel*>()) {
            if (label->palette().color(QPalette::WindowText) == DS::clay)
                return label;
        }
        return nullptr;
    }

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<TokenStore> m_tokens;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<LoginWindow> m_window;
    test::AnimationClock m_clock;
};

QUIRO_OFFSCREEN_TEST_MAIN(TestLogin, false)

#include "tst_login.moc"
