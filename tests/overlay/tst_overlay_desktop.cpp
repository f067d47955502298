#include "core/Clock.h"
#include "core/Paths.h"
#include "overlay/DynamicIslandView.h"
#include "overlay/FloatingWindow.h"
#include "overlay/GlassButton.h"
#include "overlay/HoverIcon.h"
#include "overlay/PresenceView.h"
#include "overlay/ScoreBand.h"
#include "overlay/ScorePill.h"
#include "overlay/SessionToggleButton.h"
#include "overlay/SessionWindowController.h"
#include "overlay/SessionWindowModel.h"
#include "overlay/TooltipWindow.h"
#include "support/AnimationClock.h"
#include "support/Pixels.h"
#include "support/TestSupport.h"
#include "ui/kit/Glass.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <memory>

using namespace quiro;

namespace {
QString runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QStringLiteral("(%1 failed: %2)").arg(program, QString::fromUtf8(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString xdotool(const QStringList& arguments)
{
    return runTool(QStringLiteral("xdotool"), arguments);
}

QStringList at(const QPoint& point)
{
    return {QString::number(point.x()), QString::number(point.y())};
}

// The real pointer, as a person moves it: the window server sends the enter and leave events.
void movePointer(const QPoint& to)
{
    xdotool(QStringList{"mousemove"} + at(to));
}

void clickAt(const QPoint& point)
{
    xdotool(QStringList{"mousemove"} + at(point) + QStringList{"click", "1"});
}

void drag(const QPoint& from, const QPoint& to)
{
    xdotool(QStringList{"mousemove"} + at(from) + QStringList{"mousedown", "1", "mousemove"} + at((from + to) / 2) +
            QStringList{"mousemove"} + at(to) + QStringList{"mouseup", "1"});
}

QString focusedWindow()
{
    return xdotool({"getwindowfocus"});
}

// The control of `view` that shows `icon`.
GlassButton* controlWithIcon(const QWidget* view, const QString& icon)
{
    for (GlassButton* button : view->findChildren<GlassButton*>()) {
        if (button->icon() == icon)
            return button;
    }
    return nullptr;
}

QPoint centreOf(const QWidget* widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

QRect globalRect(const QWidget* widget)
{
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

// Whether some pixel of `area` (screen coordinates, grabbed from `origin`) has `color`.
bool showsColor(const QImage& image, const QPoint& origin, const QRect& area, const QColor& color, int tolerance = 10)
{
    const QRect local = area.translated(-origin).intersected(image.rect());
    for (int y = local.top(); y <= local.bottom(); ++y) {
        for (int x = local.left(); x <= local.right(); ++x) {
            if (test::sameColor(image.pixelColor(x, y), color, tolerance))
                return true;
        }
    }
    return false;
}

// A translucent colour as it lands on an opaque ground.
QColor over(const QColor& top, const QColor& ground)
{
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + ground.redF() * (1 - a)),
                            float(top.greenF() * a + ground.greenF() * (1 - a)),
                            float(top.blueF() * a + ground.blueF() * (1 - a)));
}

// The window standing for the video call behind the overlay; it holds the keyboard focus.
constexpr QColor callBackdrop = hexColor("#2E3A46");
} // namespace

class TestOverlayDesktop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        m_home = std::make_unique<test::TempHome>();
        m_clock = std::make_unique<test::AnimationClock>();

        m_call.start(QStringLiteral("xmessage"),
                     {QStringLiteral("-title"), QStringLiteral("quiro-test-call"), QStringLiteral("-geometry"),
                      QStringLiteral("1280x800+0+0"), QStringLiteral("-bg"), callBackdrop.name(), QStringLiteral("-fg"),
                      QStringLiteral("#C8D0D8"), QStringLiteral("A video call")});
        QVERIFY(m_call.waitForStarted());
        m_callWindow = xdotool({"search", "--sync", "--name", "quiro-test-call"});
        QVERIFY2(!m_callWindow.isEmpty() && !m_callWindow.startsWith(QLatin1Char('(')), qPrintable(m_callWindow));
    }

    void cleanupTestCase()
    {
        if (m_call.state() != QProcess::NotRunning) {
            m_call.kill();
            m_call.waitForFinished();
        }
    }

    void init()
    {
        xdotool({"windowfocus", "--sync", m_callWindow});
        movePointer(QPoint(5, area().bottom() - 5)); // away from where the overlay appears
        QFile::remove(Paths::userEnvFile());
        m_model = std::make_unique<SessionWindowModel>(m_modelClock);
        m_controller = std::make_unique<SessionWindowController>(*m_model);
    }

    void cleanup()
    {
        TooltipWindow::shared().hide();
        if (m_controller)
            m_controller->teardown();
        m_controller.reset();
        m_model.reset();
    }

    void panelSitsBelowTheTopAndGrowsDownward()
    {
        showIn(WidgetMode::panel);
        FloatingWindow* window = m_controller->window();
        const QRect idle(int(screenMidX()) - 230, area().top() + 66, 460, 64);
        settleAt(idle);

        // A view before its first layout reports nothing usable; one point is not a size either.
        for (const QSizeF size : {QSizeF(0, 300), QSizeF(460, 1), QSizeF(1, 1)})
            m_controller->resize(size);
        m_clock->advanceBy(400);
        QCOMPARE(window->geometry(), idle);
        m_controller->resize(QSizeF(2, 64));
        settleAt(QRect(int(screenMidX()) - 1, idle.top(), 2, 64));
        m_controller->view()->reportSize();
        settleAt(idle);
        m_model->setShowTranscript(true);
        const QSize open = m_controller->view()->currentSize();
        QCOMPARE(open.width(), PresenceView::barWidth);
        QVERIFY(open.height() > idle.height() + 100);
        // The change takes 0.32 s.
        m_clock->advanceBy(SessionWindowController::frameAnimationMs - 40);
        QVERIFY(m_controller->window()->geometry().height() < open.height());
        settleAt(QRect(idle.topLeft(), open));
        m_model->setShowTranscript(false);
        settleAt(idle);
    }

    void islandFollowsItsGeometryTable()
    {
        showIn(WidgetMode::island);
        auto* island = static_cast<DynamicIslandView*>(m_controller->view());
        settleAt(islandFrame({130, 38}));

        // A hint opens the idle pill straight to its full width: the only size reported is the final one.
        QList<QSize> reported;
        const auto forward = island->onSize;
        island->onSize = [&reported, forward](QSize size) {
            reported.append(size);
            forward(size);
        };
        const QString hint = QStringLiteral("Ask what a delay would cost them");
        m_model->showHint(QStringLiteral("💰 Price"), hint);
        QCOMPARE(reported, QList<QSize>{QSize(380, 124)});
        settleAt(islandFrame({380, 124}));
        const auto labels = island->findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
                            [&hint](const QLabel* label) { return label->text() == hint && label->isVisible(); }));
        m_model->clearHint();
        settleAt(islandFrame({130, 38}));

        movePointer(centreOf(island));
        QTRY_VERIFY(island->hovered());
        settleAt(islandFrame({280, 44}));
        m_model->showHint({}, QStringLiteral("Name the next step and a date"));
        settleAt(islandFrame({380, 130}));
        m_model->clearHint();
        settleAt(islandFrame({280, 44}));

        // The bloom's own close mark dismisses the hint. It sits beyond the hovered width, so the pill
        // shrinks away from the pointer and then closes too.
        m_model->showHint({}, QStringLiteral("Name the next step and a date"));
        settleAt(islandFrame({380, 130}));
        HoverIcon* dismiss = nullptr;
        for (HoverIcon* icon : island->findChildren<HoverIcon*>()) {
            if (icon->icon() == QLatin1String("xmark") && icon->tip().isEmpty())
                dismiss = icon;
        }
        QVERIFY(dismiss);
        clickAt(centreOf(dismiss));
        QTRY_VERIFY(!m_model->hint());
        m_clock->advanceBy(SessionWindowController::frameAnimationMs + DynamicIslandView::collapseDelayMs);
        QVERIFY(!island->hovered());
        settleAt(islandFrame({130, 38}));
    }

    void islandGrowthStaysCentredWhereItWasMoved()
    {
        showIn(WidgetMode::island);
        settleAt(islandFrame({130, 38}));
        const QString window = QString::number(m_controller->window()->winId());
        xdotool({"windowmove", window, "300", "200"});
        QTRY_COMPARE(m_controller->window()->geometry(), QRect(300, 200, 130, 38));

        m_model->showHint(QStringLiteral("🎯 Close"), QStringLiteral("Ask for the signature date"));
        settleAt(QRect(300 + 65 - 190, 200 + 19 - 62, 380, 124));
    }

    void modeSwitchMovesTheIslandAndKeepsThePanel()
    {
        showIn(WidgetMode::panel);
        const QRect idle(int(screenMidX()) - 230, area().top() + 66, 460, 64);
        settleAt(idle);
        // The panel follows the pointer dragging its background.
        const QPoint grab(idle.center().x() - 40, idle.top() + 6);
        drag(grab, grab + QPoint(-310, 234));
        QTRY_COMPARE(m_controller->window()->geometry(), idle.translated(-310, 234));
        movePointer(QPoint(5, area().bottom() - 5));
        QTRY_VERIFY(!m_controller->window()->underMouse());

        m_model->setMode(WidgetMode::island);
        QVERIFY(dynamic_cast<DynamicIslandView*>(m_controller->view()));
        const QRect island = islandFrame({130, 38});
        settleAt(island);
        // The island stays put (once the pointer has left, it closes again).
        auto* view = static_cast<DynamicIslandView*>(m_controller->view());
        drag(QPoint(island.left() + 12, island.top() + 6), QPoint(island.left() + 200, island.top() + 300));
        QTRY_VERIFY(view->hovered());
        QTRY_VERIFY(!view->underMouse());
        m_clock->advanceBy(DynamicIslandView::collapseDelayMs);
        settleAt(island);

        // Back to the panel: it stays where the island was and grows downward from its top edge.
        m_model->setMode(WidgetMode::panel);
        QVERIFY(dynamic_cast<PresenceView*>(m_controller->view()));
        settleAt(QRect(int(screenMidX()) - 230, island.top(), 460, 64));
        m_model->setShowTranscript(true);
        settleAt(QRect(QPoint(int(screenMidX()) - 230, island.top()), m_controller->view()->currentSize()));
    }

    void tooltipWaits450MillisecondsAndIsReplaced()
    {
        TooltipWindow& tip = TooltipWindow::shared();
        const QPoint pointer(400, 400);
        movePointer(pointer);
        QTRY_COMPARE(QCursor::pos(), pointer);

        tip.scheduleShow(QStringLiteral("first"));
        m_clock->advanceBy(449);
        QVERIFY(!tip.window());
        m_clock->advanceBy(1);
        QVERIFY(tip.window());
        QCOMPARE(tip.text(), QStringLiteral("first"));
        QCOMPARE(tip.window()->geometry().top(), pointer.y() + 22);
        QVERIFY(qAbs(QRectF(tip.window()->geometry()).center().x() - pointer.x()) <= 0.5);

        // A second tip within the wait replaces the first and waits its own 450 ms.
        tip.hide();
        tip.scheduleShow(QStringLiteral("second"));
        m_clock->advanceBy(300);
        tip.scheduleShow(QStringLiteral("third"));
        m_clock->advanceBy(300);
        QVERIFY(!tip.window());
        m_clock->advanceBy(150);
        QCOMPARE(tip.text(), QStringLiteral("third"));

        tip.hide();
        tip.scheduleShow(QStringLiteral("never"));
        m_clock->advanceBy(200);
        tip.hide();
        m_clock->advanceBy(500);
        QVERIFY(!tip.window());

        // The controls use it: resting on the capture control shows what this desktop can do.
        showIn(WidgetMode::panel);
        settleAt(QRect(int(screenMidX()) - 230, area().top() + 66, 460, 64));
        GlassButton* capture = controlWithIcon(m_controller->view(), QStringLiteral("eye"));
        QVERIFY(capture);
        movePointer(centreOf(capture));
        QTRY_VERIFY(capture->isHovered());
        m_clock->advanceBy(450);
        QCOMPARE(tip.text(), OverlayView::captureTip());
        movePointer(QPoint(5, area().bottom() - 5));
        QTRY_VERIFY(!tip.window());
    }

    void islandCollapses220MillisecondsAfterTheLastLeave()
    {
        showIn(WidgetMode::island);
        auto* island = static_cast<DynamicIslandView*>(m_controller->view());
        settleAt(islandFrame({130, 38}));
        const QPoint inside = centreOf(island);
        const QPoint outside(inside.x(), inside.y() + 200);

        movePointer(inside);
        QTRY_VERIFY(island->hovered());
        settleAt(islandFrame({280, 44}));
        movePointer(outside);
        QTRY_VERIFY(!island->underMouse());
        m_clock->advanceBy(219);
        QVERIFY(island->hovered());
        m_clock->advanceBy(1);
        QVERIFY(!island->hovered());
        settleAt(islandFrame({130, 38}));

        // Coming back within the 220 ms keeps it open, however long the pointer then stays.
        movePointer(inside);
        QTRY_VERIFY(island->hovered());
        movePointer(outside);
        QTRY_VERIFY(!island->underMouse());
        m_clock->advanceBy(150);
        movePointer(inside);
        QTRY_VERIFY(island->underMouse());
        m_clock->advanceBy(1000);
        QVERIFY(island->hovered());
    }

    void viewsShowTheModel()
    {
        QCOMPARE(scoreBand(80).color, Glass::live);
        QCOMPARE(scoreBand(79).color, Glass::accent);
        QCOMPARE(scoreBand(55).color, Glass::accent);
        QCOMPARE(scoreBand(54).color, Glass::warn);

        for (int i = 1; i <= 25; ++i)
            m_model->addLine(i % 2 ? QStringLiteral("CLT") : QStringLiteral("MGR"), QStringLiteral("line %1").arg(i));
        m_model->setShowTranscript(true);
        showIn(WidgetMode::panel);
        QStringList shown;
        for (const QLabel* text : m_controller->view()->findChildren<QLabel*>(QStringLiteral("transcriptText")))
            shown.append(text->text());
        QStringList expected;
        for (int i = 6; i <= 25; ++i)
            expected.append(QStringLiteral("line %1").arg(i));
        QCOMPARE(shown, expected);
        // The newest line is in view.
        const QScrollBar* scroll = m_controller->view()->findChild<QScrollArea*>()->verticalScrollBar();
        QTRY_VERIFY(scroll->maximum() > 0);
        m_clock->advanceBy(300);
        QCOMPARE(scroll->value(), scroll->maximum());

        // Nothing on either view claims the overlay is hidden from capture.
        for (const WidgetMode mode : {WidgetMode::panel, WidgetMode::island}) {
            m_model->setMode(mode);
            for (const GlassButton* control : m_controller->view()->findChildren<GlassButton*>())
                QVERIFY2(!control->tip().contains(QStringLiteral("idden")), qPrintable(control->tip()));
        }
    }

    void overlayNeverTakesTheFocusAndSitsOnEveryWorkspace()
    {
        QCOMPARE(focusedWindow(), m_callWindow);
        showIn(WidgetMode::panel);
        settleAt(QRect(int(screenMidX()) - 230, area().top() + 66, 460, 64));
        QCOMPARE(focusedWindow(), m_callWindow);

        const QString window = QString::number(m_controller->window()->winId());
        const QString properties =
            runTool(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_STATE"),
                                              QStringLiteral("_NET_WM_DESKTOP"), QStringLiteral("WM_HINTS")});
        for (const char* expected : {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR",
                                     "_NET_WM_DESKTOP(CARDINAL) = 4294967295", "accepts input or input focus: False"})
            QVERIFY2(properties.contains(QLatin1String(expected)), qPrintable(properties));

        // Clicks reach the overlay (the background, a control) while the call keeps the keyboard.
        const QRect frame = m_controller->window()->geometry();
        clickAt(QPoint(frame.center().x() - 40, frame.top() + 8));
        QCOMPARE(focusedWindow(), m_callWindow);
        GlassButton* transcript = controlWithIcon(m_controller->view(), QStringLiteral("text.bubble"));
        QVERIFY(transcript);
        clickAt(centreOf(transcript));
        QTRY_VERIFY(m_model->showTranscript());
        QCOMPARE(focusedWindow(), m_callWindow);

        m_controller->hide();
        m_controller->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_controller->window()));
        QCOMPARE(focusedWindow(), m_callWindow);
    }

    void screenshotsOfEveryState()
    {
        const QColor panelGround = over(Glass::panelBackground, Qt::black);
        showIn(WidgetMode::panel);
        QRect frame(int(screenMidX()) - 230, area().top() + 66, 460, 64);
        settleAt(frame);
        const QRect shot = frame.adjusted(-20, -20, 20, 260);
        auto* panel = static_cast<PresenceView*>(m_controller->view());

        QImage image = shoot(QStringLiteral("panel-idle"), shot);
        // The rounded corner is cut away (no compositor here), so the call shows through it.
        QVERIFY(test::sameColor(image.pixelColor(frame.topLeft() - shot.topLeft()), callBackdrop));
        QVERIFY(test::sameColor(image.pixelColor(QPoint(frame.center().x(), frame.top() + 4) - shot.topLeft()),
                                panelGround));
        QVERIFY(showsColor(image, shot.topLeft(), globalRect(controlWithIcon(panel, QStringLiteral("eye"))),
                           Glass::accent));

        m_model->setRunning(true);
        m_model->setStatusText(QStringLiteral("Listening…"));
        m_model->showHint(QStringLiteral("💰 Price"), QStringLiteral("Ask what a delay would cost them"));
        frame.setSize(panel->currentSize());
        settleAt(frame);
        image = shoot(QStringLiteral("panel-hint"), shot);
        const QRect toggle = globalRect(panel->findChild<SessionToggleButton*>());
        QVERIFY(test::sameColor(image.pixelColor(toggle.topLeft() + QPoint(5, toggle.height() / 2) - shot.topLeft()),
                                Glass::accent));
        QVERIFY(
            showsColor(image, shot.topLeft(), QRect(toggle.right(), frame.top(), 200, frame.height()), Glass::accent));

        for (int i = 1; i <= 6; ++i) {
            m_modelClock.advance(10);
            m_model->addLine(i % 2 ? QStringLiteral("CLT") : QStringLiteral("MGR"),
                             i % 2 ? QStringLiteral("We already use a tool for this, and the price was the issue.")
                                   : QStringLiteral("What would it take to make the switch worth it?"));
        }
        m_model->setShowTranscript(true);
        frame.setSize(panel->currentSize());
        settleAt(frame);
        image = shoot(QStringLiteral("panel-transcript"), shot);
        QVERIFY(showsColor(image, shot.topLeft(), QRect(frame.left(), frame.top() + 70, 70, frame.height() - 70),
                           over(withOpacity(Glass::accent, 0.9), panelGround), 24));
        QVERIFY(test::sameColor(image.pixelColor(QPoint(frame.right() - 6, frame.bottom() - 30) - shot.topLeft()),
                                panelGround));

        m_model->setShowTranscript(false);
        m_model->clearHint();
        m_model->setAudioError(true);
        frame.setSize(panel->currentSize());
        settleAt(frame);
        image = shoot(QStringLiteral("panel-audio-warning"), shot);
        QVERIFY(showsColor(image, shot.topLeft(),
                           QRect(frame.left(), frame.top() + 60, frame.width(), frame.height() - 60), Glass::warn, 24));

        m_model->setAudioError(false);
        m_model->setRunning(false);
        m_model->setLastScore(72);
        frame.setSize(panel->currentSize());
        settleAt(frame);
        auto* pill = panel->findChild<ScorePill*>();
        clickAt(centreOf(pill));
        QTRY_VERIFY(panel->scoreCard() && panel->scoreCard()->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(panel->scoreCard()));
        movePointer(QPoint(5, area().bottom() - 5));
        QTRY_VERIFY(!pill->isHovered());
        m_clock->advanceBy(500);
        image = shoot(QStringLiteral("panel-score-card"), shot);
        const QColor pillGround = image.pixelColor(globalRect(pill).topLeft() + QPoint(6, 12) - shot.topLeft());
        QVERIFY2(test::sameColor(pillGround, over(withOpacity(Glass::accent, 0.18), panelGround)),
                 qPrintable(pillGround.name()));
        QVERIFY(showsColor(image, shot.topLeft(), panel->scoreCard()->geometry(), Glass::accent, 4));
        clickAt(centreOf(pill));
        QTRY_VERIFY(!panel->scoreCard());
        movePointer(QPoint(5, area().bottom() - 5));

        m_model->setLastScore(std::nullopt);
        m_model->setMode(WidgetMode::island);
        m_model->setRunning(true);
        auto* island = static_cast<DynamicIslandView*>(m_controller->view());
        settleAt(islandFrame({130, 38}));
        const QRect islandShot = islandFrame({380, 130}).adjusted(-20, -20, 20, 20);
        image = shoot(QStringLiteral("island-idle"), islandShot);
        const QRect idle = islandFrame({130, 38});
        QVERIFY(test::sameColor(image.pixelColor(idle.topLeft() - islandShot.topLeft()), callBackdrop));
        QVERIFY(test::sameColor(image.pixelColor(QPoint(idle.left() + 19, idle.top() + 3) - islandShot.topLeft()),
                                Glass::islandBackground));
        QVERIFY(showsColor(image, islandShot.topLeft(), idle, Glass::live, 4));

        movePointer(centreOf(island));
        QTRY_VERIFY(island->hovered());
        settleAt(islandFrame({280, 44}));
        image = shoot(QStringLiteral("island-hovered"), islandShot);
        const QRect islandToggle = globalRect(island->findChild<SessionToggleButton*>());
        QVERIFY(test::sameColor(
            image.pixelColor(islandToggle.topLeft() + QPoint(4, islandToggle.height() / 2) - islandShot.topLeft()),
            Glass::accent));

        movePointer(QPoint(5, area().bottom() - 5));
        m_clock->advanceBy(DynamicIslandView::collapseDelayMs);
        m_model->showHint(QStringLiteral("⚔️ Competitor"),
                          QStringLiteral("Ask what they would keep from their tool"));
        const QRect bloomFrame = islandFrame({380, 124});
        settleAt(bloomFrame);
        image = shoot(QStringLiteral("island-hint"), islandShot);
        const QRect bloom = bloomFrame.adjusted(6, 6 + 26 + 6, -6, -6);
        QVERIFY(showsColor(image, islandShot.topLeft(), bloom, Glass::accent, 12));
        QVERIFY(test::sameColor(image.pixelColor(QPoint(bloom.center().x(), bloom.bottom() - 3) - islandShot.topLeft()),
                                over(white(0.06), Glass::islandBackground), 3));
    }

private:
    void showIn(WidgetMode mode)
    {
        m_model->setMode(mode);
        m_controller->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_controller->window()));
    }

    // Runs the animations until the window server has `frame`.
    void settleAt(const QRect& frame)
    {
        // Frame by frame until the window server reports the frame: pointer events from it (an island
        // closing once the pointer has left) arrive on its schedule, not the animation clock's.
        QElapsedTimer patience;
        patience.start();
        while (m_controller->window()->geometry() != frame && patience.elapsed() < 5000)
            m_clock->advanceBy(16);
        QCOMPARE(m_controller->window()->geometry(), frame);
    }

    QRect area() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
    double screenMidX() const { return QRectF(area()).center().x(); }
    // The island's frame of `size` where show() puts it.
    QRect islandFrame(const QSize& size) const
    {
        // Centred 43 points below the top, but never above it: a pill with a hint starts at the top.
        const double centreY = area().top() + SessionWindowController::islandTopGap + 13.0;
        const double top = qMax(double(area().top()), centreY - size.height() / 2.0);
        return QRectF(screenMidX() - size.width() / 2.0, top, size.width(), size.height()).toRect();
    }

    QImage shoot(const QString& name, const QRect& region)
    {
        m_clock->advanceBy(50);
        QCoreApplication::processEvents();
        const QImage image = test::grabScreen(region);
        qInfo("screenshot: %s", qPrintable(test::saveScreenshot(image, name)));
        return image;
    }

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::AnimationClock> m_clock;
    QProcess m_call;
    QString m_callWindow;
    ManualClock m_modelClock;
    std::unique_ptr<SessionWindowModel> m_model;
    std::unique_ptr<SessionWindowController> m_controller;
};

// Away from the test desktop there may be no display to open; the test then only skips.
QUIRO_OFFSCREEN_TEST_MAIN(TestOverlayDesktop, test::onTestDesktop())

#include "tst_overlay_desktop.moc"
