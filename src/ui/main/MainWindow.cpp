#include "ui/main/MainWindow.h"

#include "ui/kit/WindowPresenter.h"

#include "session/SessionController.h"
#include "ui/kit/AppIcon.h"
#include "ui/kit/DS.h"
#include "ui/main/MainView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>

namespace quiro {

MainWindow::MainWindow(const MainServices& services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_view(new MainView(m_services, this))
{
    setWindowTitle(QStringLiteral("Quiro"));
    setWindowIcon(appIcon());
    // Closing the window must not end the program: calls are started from the tray and the overlay.
    setAttribute(Qt::WA_QuitOnClose, false);
    setCentralWidget(m_view);
    resize(openingSize);
    setMinimumSize(smallestSize);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, DS::canvas);
    setPalette(palette);
    buildMenus();
}

void MainWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    QMenu* application = bar->addMenu(QStringLiteral("&Quiro"));
    application->addAction(QStringLiteral("About Quiro"), this, &MainWindow::showAbout);
    application->addSeparator();
    QAction* quit = application->addAction(QStringLiteral("Quit Quiro"), this, [this] { quitAfterTheCall(); });
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* windows = bar->addMenu(QStringLiteral("&Window"));
    QAction* minimize = windows->addAction(QStringLiteral("Minimize"), this, &QWidget::showMinimized);
    minimize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    windows->addAction(QStringLiteral("Zoom"), this, [this] { isMaximized() ? showNormal() : showMaximized(); });
    windows->addSeparator();
    windows->addAction(QStringLiteral("Bring All to Front"), this, &MainWindow::bringAllToFront);
}

void MainWindow::present()
{
    presentWindow(*this);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About Quiro"),
                       QStringLiteral("<p><b>Quiro</b> %1</p><p>A coach for sales calls: it listens to both sides, "
                                      "shows short hints while you talk and debriefs every call.</p><p>Everything "
                                      "it stores stays on this computer, in ~/.quiroai.</p>")
                           .arg(QStringLiteral(QUIRO_VERSION)));
}

void MainWindow::bringAllToFront()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !window->isMinimized())
            window->raise();
    }
    raise();
    activateWindow();
}

QCoro::Task<> MainWindow::quitAfterTheCall()
{
    // A call in progress is saved before the program ends.
    m_services.controller->stop();
    co_await m_services.controller->untilIdle();
    QCoreApplication::quit();
}

} // namespace quiro
