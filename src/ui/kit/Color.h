#pragma once

#include <QColor>
#include <string_view>

namespace quiro {

namespace detail {
constexpr int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr bool isAlphanumeric(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
} // namespace detail

// A colour literal such as "#CCFF00": characters that are not letters or digits are trimmed from
// both ends, the six hexadecimal digits left are red, green and blue (sRGB). Anything else gives an
// invalid colour. constexpr, so the palettes are built at compile time.
constexpr QColor hexColor(std::string_view text, double opacity = 1.0)
{
    while (!text.empty() && !detail::isAlphanumeric(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && !detail::isAlphanumeric(text.back()))
        text.remove_suffix(1);
    if (text.size() != 6)
        return QColor();
    int channels[3] = {};
    for (int i = 0; i < 3; ++i) {
        const int high = detail::hexDigit(text[2 * i]);
        const int low = detail::hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return QColor();
        channels[i] = high * 16 + low;
    }
    return QColor(channels[0], channels[1], channels[2], int(opacity * 255.0 + 0.5));
}

// The colour at an opacity between 0 and 1 (the design gives opacities, Qt wants alpha bytes);
// opacities outside that range, as a spring's overshoot gives, stay at its ends.
QColor withOpacity(QColor color, double opacity);

constexpr QColor white(double opacity)
{
    return QColor(255, 255, 255, int(opacity * 255.0 + 0.5));
}

constexpr QColor black(double opacity)
{
    return QColor(0, 0, 0, int(opacity * 255.0 + 0.5));
}

// Linear blend from `from` (at 0) to `to` (at 1), alpha included: hover states fade through it.
// Amounts beyond either end (a spring's overshoot) stay at that end.
QColor mix(const QColor& from, const QColor& to, double amount);

} // namespace quiro
