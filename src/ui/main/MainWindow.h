#pragma once

#include "ui/main/MainServices.h"

#include <QMainWindow>

#include <qcoro/qcorotask.h>

namespace quiro {

class MainView;

// The main window: 960 × 640 points at first, never smaller than 760 × 520, centred on the screen
// the first time it is shown. Its menu bar carries the application's and the window's commands.
// Closing it only hides it (the program lives on in the tray and the overlay); the shell hears of
// it through closed().
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize openingSize{960, 640};
    static constexpr QSize smallestSize{760, 520};

    explicit MainWindow(const MainServices& services, QWidget* parent = nullptr);

    MainView* view() const { return m_view; }
    // Shows the window (centred the first time), brings it to the front and gives it the keyboard.
    void present();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void showAbout();
    void bringAllToFront();
    QCoro::Task<> quitAfterTheCall();

    MainServices m_services;
    MainView* m_view;
};

} // namespace quiro
