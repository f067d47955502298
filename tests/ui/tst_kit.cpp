#include "support/AnimationClock.h"
#include "support/Pixels.h"
#include "support/TestSupport.h"
#include "ui/kit/AccentButton.h"
#include "ui/kit/AppIcon.h"
#include "ui/kit/Color.h"
#include "ui/kit/CostPill.h"
#include "ui/kit/DS.h"
#include "ui/kit/DawnCard.h"
#include "ui/kit/EditField.h"
#include "ui/kit/GlassCard.h"
#include "ui/kit/Icons.h"
#include "ui/kit/QuietButton.h"
#include "ui/kit/QuiroCard.h"
#include "ui/kit/QuiroDivider.h"
#include "ui/kit/QuiroEmptyState.h"
#include "ui/kit/QuiroSectionHeader.h"
#include "ui/kit/SaveButton.h"
#include "ui/kit/SoundSettings.h"
#include "ui/kit/Spring.h"
#include "ui/kit/ValleyBackground.h"
#include "ui/kit/ValleyButton.h"
#include "ui/kit/ValleyCard.h"

#include <QApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>
#include <numbers>

using namespace quiro;

namespace {
// A damped spring's one overshoot peaks after half a damped period, by exp(-pi * zeta / sqrt(1 - zeta^2)).
template <Spring S> void checkSpring()
{
    const QEasingCurve curve = springEasing<S>();
    QCOMPARE(curve.valueForProgress(0.0), 0.0);
    QCOMPARE(curve.valueForProgress(1.0), 1.0);

    const double zeta = S.dampingFraction;
    const double omegaD = 2.0 * std::numbers::pi / S.response * std::sqrt(1.0 - zeta * zeta);
    const double peakProgress = std::numbers::pi / omegaD / S.settleSeconds();
    const double overshoot = std::exp(-std::numbers::pi * zeta / std::sqrt(1.0 - zeta * zeta));

    double highest = 0.0;
    double highestAt = 0.0;
    for (int i = 0; i <= 2000; ++i) {
        const double progress = i / 2000.0;
        const double value = curve.valueForProgress(progress);
        QVERIFY2(value >= 0.0, qPrintable(QStringLiteral("below the start at %1").arg(progress)));
        if (value > highest) {
            highest = value;
            highestAt = progress;
        }
    }
    QVERIFY2(qAbs(highestAt - peakProgress) < 0.002,
             qPrintable(QStringLiteral("peak at %1, expected %2").arg(highestAt).arg(peakProgress)));
    // Scaling the curve to end exactly on 1 moves it by at most the thousandth it settles within.
    QVERIFY2(qAbs(highest - (1.0 + overshoot)) < 1.5e-3,
             qPrintable(QStringLiteral("peak %1, expected %2").arg(highest).arg(1.0 + overshoot)));
}

QColor pixelOf(const QImage& image, QWidget* gallery, QWidget* widget, QPoint at)
{
    return image.pixelColor(widget->mapTo(gallery, at));
}

void hover(QWidget* widget, test::AnimationClock& clock)
{
    QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(4, 4));
    QCoreApplication::sendEvent(widget, &enter);
    clock.advanceBy(1000);
}
} // namespace

class TestKit : public QObject {
    Q_OBJECT

private slots:
    void hexColorLiterals_data()
    {
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QColor>("expected");

        QTest::newRow("accent") << "#CCFF00" << QColor(204, 255, 0);
        QTest::newRow("lower case, no hash") << "0a0a0a" << QColor(10, 10, 10);
        QTest::newRow("three digits") << "#FFF" << QColor();
        QTest::newRow("not hexadecimal") << "#GG0000" << QColor();
    }

    void hexColorLiterals()
    {
        QFETCH(QString, literal);
        QFETCH(QColor, expected);
        const QByteArray bytes = literal.toLatin1();
        QCOMPARE(hexColor(std::string_view(bytes.constData(), size_t(bytes.size()))), expected);
    }

    void springsOvershootOnceAndLandOnTarget()
    {
        checkSpring<Springs::spring>();
        checkSpring<Springs::springFast>();
        checkSpring<Springs::morph>();
        // The overlay's hover fades must feel quick: a fast spring settles well inside half a second.
        QVERIFY(Springs::springFast.durationMs() < 500);
    }

    void everySymbolIsOneGlyphOfTheIconFont()
    {
        QVERIFY2(!Icons::family().isEmpty(), "the Material Icons font is not installed");
        QVERIFY(Icons::ligature(u"no.such.symbol").isEmpty());
        for (const QString& symbol : Icons::symbols()) {
            // A misspelt ligature falls apart into one glyph per letter.
            QTextLayout layout(Icons::ligature(symbol), Icons::font(24));
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            const QList<QGlyphRun> runs = layout.glyphRuns();
            QVERIFY2(runs.size() == 1 && runs.first().glyphIndexes().size() == 1,
                     qPrintable(symbol + QStringLiteral(" is not one glyph")));
            QCOMPARE(runs.first().rawFont().familyName(), Icons::family());
        }
    }

    void appIconIsTheAccentMarkOnInk()
    {
        const QImage icon = appIcon().pixmap(256).toImage();
        QCOMPARE(icon.size(), QSize(256, 256));
        test::saveScreenshot(icon, QStringLiteral("app-icon"));
        QCOMPARE(icon.pixelColor(0, 0).alpha(), 0); // rounded corners
        QVERIFY(test::sameColor(icon.pixelColor(120, 120), DS::accent, 2));
        QVERIFY(test::sameColor(icon.pixelColor(24, 230), DS::ink, 2));
        QCOMPARE(icon.pixelColor(24, 230).alpha(), 255);
    }

    void controlsPaintTheDesignColoursAndTheirHoverStates()
    {
        test::AnimationClock clock;
        ValleyBackground gallery;
        gallery.resize(720, 620);
        auto* page = new QVBoxLayout(&gallery);
        page->setContentsMargins(32, 28, 32, 28);
        page->addWidget(new QuiroSectionHeader(QStringLiteral("Design kit"),
                                               QStringLiteral("The controls every Quiro window shares."), &gallery));

        auto* card = new ValleyCard(&gallery);
        card->contentLayout()->addWidget(new EditField(QStringLiteral("Product"), QStringLiteral("e.g. Quiro"), card));
        card->contentLayout()->addWidget(new QuiroDivider(card));
        auto* buttonRow = new QWidget(card);
        auto* buttons = new QHBoxLayout(buttonRow);
        auto* valley = new ValleyButton(QStringLiteral("Start call"), QStringLiteral("play.fill"), buttonRow);
        auto* accent = new AccentButton(QStringLiteral("Continue"), QStringLiteral("arrow.right"), buttonRow);
        auto* quiet = new QuietButton(QStringLiteral("Skip for now"), buttonRow);
        auto* save = new SaveButton(buttonRow);
        auto* saved = new SaveButton(buttonRow);
        saved->setSaved(true);
        for (QWidget* button : std::initializer_list<QWidget*>{valley, accent, quiet, save, saved})
            buttons->addWidget(button, 0, Qt::AlignVCenter);
        buttons->addStretch(1);
        card->contentLayout()->addWidget(buttonRow);
        card->contentLayout()->addWidget(new CostPill(QStringLiteral("Speech"), 0.01234, DS::blue, card), 0,
                                         Qt::AlignLeft);
        page->addWidget(card);

        auto* cardRow = new QWidget(&gallery);
        auto* cards = new QHBoxLayout(cardRow);
        auto* quiroCard = new QuiroCard(cardRow);
        quiroCard->contentLayout()->addWidget(
            new QuiroEmptyState(QStringLiteral("waveform"), QStringLiteral("No calls yet"), quiroCard));
        auto* dawn = new DawnCard(cardRow);
        dawn->contentLayout()->addWidget(new QLabel(QStringLiteral("Dawn card"), dawn));
        auto* glass = new GlassCard(cardRow);
        glass->contentLayout()->addWidget(new QLabel(QStringLiteral("Glass card"), glass));
        for (QWidget* each : std::initializer_list<QWidget*>{quiroCard, dawn, glass})
            cards->addWidget(each);
        page->addWidget(cardRow);
        page->addStretch(1);
        gallery.show();
        clock.advanceBy(100);

        const QImage rest = gallery.grab().toImage();
        test::saveScreenshot(rest, QStringLiteral("kit-gallery"));
        const QPoint insideAccent(10, accent->height() / 2);
        const QPoint insideSave(6, save->height() / 2);
        const QPoint insideValleyCapsule(valley->width() / 2, valley->height() / 2 - 16);
        QVERIFY(test::sameColor(pixelOf(rest, &gallery, accent, insideAccent), DS::accent, 2));
        QVERIFY(test::sameColor(pixelOf(rest, &gallery, save, insideSave), DS::saveButton, 2));
        QVERIFY(test::sameColor(pixelOf(rest, &gallery, saved, insideSave), DS::moss, 2));
        QVERIFY(test::sameColor(pixelOf(rest, &gallery, valley, insideValleyCapsule), DS::ink, 2));
        // The accent glow lights the upper right of the canvas and leaves the lower left white.
        const QColor glow = rest.pixelColor(gallery.width() - 4, 4);
        QVERIFY2(glow.blue() < 215 && glow.green() > 245, qPrintable(glow.name()));
        QVERIFY(test::sameColor(rest.pixelColor(2, gallery.height() - 3), DS::canvas, 2));

        hover(accent, clock);
        hover(save, clock);
        const QImage hovered = gallery.grab().toImage();
        test::saveScreenshot(hovered, QStringLiteral("kit-gallery-hovered"));
        QVERIFY(test::sameColor(pixelOf(hovered, &gallery, accent, insideAccent), DS::accentH, 2));
        QVERIFY(test::sameColor(pixelOf(hovered, &gallery, save, insideSave), DS::ink, 2));
    }

    void soundSettingsOpenTheDesktopsOwnPanel()
    {
        // Stand-ins for the three panels that note how they were started.
        QTemporaryDir bin;
        const QString opened = bin.filePath(QStringLiteral("opened"));
        for (const char* program : {"pavucontrol", "gnome-control-center", "systemsettings"}) {
            const QString path = bin.filePath(QLatin1String(program));
            test::writeFile(path, QStringLiteral("#!/bin/sh\necho \"${0##*/} $*\" >> '%1'\n").arg(opened).toUtf8());
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray oldPath = qgetenv("PATH");
        const QByteArray oldDesktop = qgetenv("XDG_CURRENT_DESKTOP");
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", oldPath);
            qputenv("XDG_CURRENT_DESKTOP", oldDesktop);
        });
        qputenv("PATH", bin.path().toUtf8());

        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        QCOMPARE(SoundSettings::open(), std::nullopt);
        QTRY_COMPARE(test::readFile(opened), QByteArray("gnome-control-center sound\n"));

        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        QCOMPARE(SoundSettings::find()->arguments, QStringList{QStringLiteral("kcm_pulseaudio")});
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
        QVERIFY(SoundSettings::find()->program.endsWith(QStringLiteral("/pavucontrol")));
        QVERIFY(QFile::remove(bin.filePath(QStringLiteral("pavucontrol"))));
        QVERIFY(SoundSettings::find()->program.endsWith(QStringLiteral("/gnome-control-center")));

        qputenv("PATH", QFile::encodeName(bin.filePath(QStringLiteral("empty"))));
        QCOMPARE(SoundSettings::open(), SoundSettings::notInstalled);
    }
};

QUIRO_OFFSCREEN_TEST_MAIN(TestKit, false)

#include "tst_kit.moc"
