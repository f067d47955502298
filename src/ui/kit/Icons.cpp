#include "ui/kit/Icons.h"

#include "core/Log.h"
#include "ui/kit/Fonts.h"

#include <QColor>
#include <QFontDatabase>
#include <QPainter>
#include <QRectF>

#include <array>
#include <utility>

namespace quiro::Icons {

namespace {
const QString fontFile =
    QStringLiteral("/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf");
const QString fontFamily = QStringLiteral("Material Icons");
// The design sizes symbols like text: a 13-point symbol is about as tall as 13-point letters.
// Material glyphs sit inside a padded square em, so they are drawn on a larger em to look the same.
constexpr double emPerPoint = 1.3;

// Symbol name of the design → Material Icons ligature, chosen for the same picture.
constexpr std::array<std::pair<const char*, const char*>, 38> s_table{{
    {"play.fill", "play_arrow"},
    {"stop.fill", "stop"},
    {"sparkle", "auto_awesome"},
    {"eye", "visibility"},
    {"eye.slash", "visibility_off"},
    {"gearshape", "settings"},
    {"xmark", "close"},
    {"arrow.counterclockwise", "replay"},
    {"waveform", "graphic_eq"},
    {"waveform.badge.exclamationmark", "error_outline"},
    {"lightbulb.fill", "lightbulb"},
    {"chevron.right", "chevron_right"},
    {"checkmark", "check"},
    {"checkmark.circle.fill", "check_circle"},
    {"arrow.right", "arrow_forward"},
    {"arrow.right.circle.fill", "arrow_circle_right"},
    {"arrow.up.circle.fill", "arrow_circle_up"},
    {"circle.circle.fill", "radio_button_checked"},
    {"eye.trianglebadge.exclamationmark.fill", "report"},
    {"shield.lefthalf.filled", "shield"},
    {"exclamationmark.shield.fill", "gpp_maybe"},
    {"exclamationmark.triangle.fill", "warning"},
    {"mic", "mic"},
    {"speaker.wave.2", "volume_up"},
    {"text.book.closed", "menu_book"},
    {"text.bubble", "notes"},
    {"rectangle.topthird.inset.filled", "web_asset"},
    {"capsule.portrait", "crop_portrait"},
    {"doc.on.doc", "content_copy"},
    {"square.and.arrow.down", "file_download"},
    {"person.crop.circle", "account_circle"},
    {"person.2.fill", "people"},
    {"briefcase.fill", "work"},
    {"globe", "language"},
    {"slider.horizontal.3", "tune"},
    {"arrow.clockwise", "refresh"},
    {"rectangle.portrait.and.arrow.right", "exit_to_app"},
    {"chart.line.uptrend.xyaxis", "show_chart"},
}};
} // namespace

QString ligature(QStringView symbol)
{
    for (const auto& [name, glyph] : s_table) {
        if (symbol == QLatin1String(name))
            return QLatin1String(glyph);
    }
    return {};
}

QStringList symbols()
{
    QStringList names;
    for (const auto& entry : s_table)
        names.append(QLatin1String(entry.first));
    return names;
}

QString family()
{
    static const QString loaded = [] {
        if (QFontDatabase::addApplicationFont(fontFile) >= 0 || QFontDatabase::hasFamily(fontFamily))
            return fontFamily;
        Log::line(QStringLiteral("UI"), QStringLiteral("the icon font is missing (%1); install the Debian package "
                                                       "fonts-material-design-icons-iconfont")
                                            .arg(fontFile));
        return QString();
    }();
    return loaded;
}

QFont font(double size, QFont::Weight weight)
{
    QFont icons = Fonts::sized(family(), size, weight);
    // Ligatures must not be split into letters by spacing or capitalisation.
    icons.setLetterSpacing(QFont::PercentageSpacing, 100);
    icons.setCapitalization(QFont::MixedCase);
    return icons;
}

void paint(QPainter& painter, const QRectF& box, QStringView symbol, const QColor& color, double size,
           QFont::Weight weight)
{
    const QString glyph = ligature(symbol);
    if (glyph.isEmpty() || family().isEmpty())
        return;
    painter.save();
    painter.setFont(font(size * emPerPoint, weight));
    painter.setPen(color);
    painter.drawText(box, Qt::AlignCenter, glyph);
    painter.restore();
}

} // namespace quiro::Icons
