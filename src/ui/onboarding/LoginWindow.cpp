#include "ui/onboarding/LoginWindow.h"

#include "ui/kit/AppIcon.h"
#include "ui/onboarding/LoginView.h"

#include <QVBoxLayout>

namespace quiro {

LoginWindow::LoginWindow(AuthManager& auth, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_view(new LoginView(auth, this))
{
    setWindowTitle(QStringLiteral("Sign in to Quiro"));
    setWindowIcon(appIcon());
    setFixedSize(windowSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view, &LoginView::loggedIn, this, [this] {
        close();
        emit loggedIn();
    });
    connect(m_view, &LoginView::registered, this, [this] {
        close();
        emit registered();
    });
}

} // namespace quiro
