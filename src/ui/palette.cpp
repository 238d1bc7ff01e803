#include "ui/palette.h"

#include <QAbstractButton>
#include <QApplication>
#include <QWidget>
#include <cmath>

namespace Palette {
namespace {

constexpr double kTextContrast = 4.5;
constexpr double kGraphicContrast = 3.0;
// Fusion fills a button with a gradient whose top is the button colour 124 % lighter: the label
// must stay readable there too (a white label on a red that the gradient lightens fell to
// 1.96 : 1).
constexpr int kGradientTop = 124;
constexpr int kSteps = 20;

struct Shades
{
    QColor light;
    QColor dark;
};

// Starting shades of the named colours, one for light and one for dark windows. The dark ones
// are the lighter: they sit on dark surfaces.
Shades shades(Role role)
{
    switch (role) {
    case Role::destructive:
        return {{0xb8, 0x1d, 0x15}, {0xff, 0x7b, 0x72}};
    case Role::warning:
        return {{0x9a, 0x4f, 0x00}, {0xff, 0xb3, 0x40}};
    case Role::success:
        return {{0x1a, 0x72, 0x30}, {0x4c, 0xd9, 0x64}};
    case Role::info:
    case Role::cpuSeries:
        return {{0x00, 0x66, 0xcc}, {0x40, 0x9c, 0xff}};
    case Role::memorySeries:
        return {{0x8e, 0x3f, 0xc0}, {0xc7, 0x7d, 0xf5}};
    case Role::destructiveFill:
        return {{0xa5, 0x17, 0x10}, {0xff, 0x6b, 0x60}};
    default:
        return {};
    }
}

double channel(double value)
{
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

// `over` laid on `under` with the weight `amount` (0: under alone, 1: over alone).
QColor mix(const QColor& over, const QColor& under, double amount)
{
    const QColor a = over.toRgb();
    const QColor b = under.toRgb();
    const auto blend = [amount](double x, double y) { return x * amount + y * (1 - amount); };
    return QColor::fromRgbF(float(blend(a.redF(), b.redF())), float(blend(a.greenF(), b.greenF())),
                            float(blend(a.blueF(), b.blueF())));
}

double weakest(const QColor& colour, const QList<QColor>& surfaces)
{
    double least = 21;
    for (const QColor& surface : surfaces)
        least = std::min(least, contrast(colour, surface));
    return least;
}

QColor towardContrast(const QColor& start, const QList<QColor>& surfaces, double ratio, bool dark)
{
    const QColor target = dark ? QColor(Qt::white) : QColor(Qt::black);
    QColor candidate = start;
    for (int step = 1; step <= kSteps && weakest(candidate, surfaces) < ratio; ++step)
        candidate = mix(target, start, double(step) / kSteps);
    return candidate;
}

QColor labelOn(const QColor& fill)
{
    const QColor white(Qt::white);
    const QColor black(0x11, 0x11, 0x11);
    return contrast(white, fill) >= contrast(black, fill) ? white : black;
}

QList<QColor> fillSurfaces(const QColor& fill)
{
    return {fill, fill.lighter(kGradientTop)};
}

QColor destructiveFill(const QPalette& palette)
{
    const bool dark = isDark(palette);
    const QColor start =
        dark ? shades(Role::destructiveFill).dark : shades(Role::destructiveFill).light;
    const QColor target = dark ? QColor(Qt::white) : QColor(Qt::black);
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    QColor fill = start;
    for (int step = 1; step <= kSteps; ++step) {
        const bool seen = contrast(fill, window) >= kGraphicContrast;
        const bool readable = weakest(labelOn(fill), fillSurfaces(fill)) >= kTextContrast;
        if (seen && readable) break;
        fill = mix(target, start, double(step) / kSteps);
    }
    return fill;
}

QColor startShade(Role role, const QPalette& palette)
{
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    switch (role) {
    case Role::secondaryText:
        return mix(text, window, 0.62);
    case Role::tertiary:
        return mix(text, window, 0.45);
    case Role::accent:
        return palette.color(QPalette::Active, QPalette::Highlight);
    default:
        return isDark(palette) ? shades(role).dark : shades(role).light;
    }
}

} // namespace

QList<Role> allRoles()
{
    return {Role::secondaryText, Role::tertiary,        Role::destructive,  Role::warning,
            Role::success,       Role::accent,          Role::info,         Role::cpuSeries,
            Role::memorySeries,  Role::destructiveFill, Role::onDestructive};
}

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Window).lightnessF() < 0.5;
}

double contrast(const QColor& a, const QColor& b)
{
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

double requiredContrast(Role role)
{
    switch (role) {
    case Role::secondaryText:
    case Role::destructive:
    case Role::warning:
    case Role::success:
    case Role::onDestructive:
        return kTextContrast;
    default:
        return kGraphicContrast;
    }
}

QList<QColor> surfaces(Role role, const QPalette& palette)
{
    if (role == Role::onDestructive) return fillSurfaces(destructiveFill(palette));
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    if (role == Role::destructiveFill) return {window};
    return {window, palette.color(QPalette::Active, QPalette::Base), panelFill(palette),
            bannerFill(palette)};
}

QColor colour(Role role, const QPalette& palette)
{
    if (role == Role::destructiveFill) return destructiveFill(palette);
    if (role == Role::onDestructive) return labelOn(destructiveFill(palette));
    return towardContrast(startShade(role, palette), surfaces(role, palette),
                          requiredContrast(role), isDark(palette));
}

QColor colour(Role role)
{
    return colour(role, QApplication::palette());
}

QColor panelFill(const QPalette& palette)
{
    return mix(palette.color(QPalette::Active, QPalette::WindowText),
               palette.color(QPalette::Active, QPalette::Window), 0.04);
}

QColor panelBorder(const QPalette& palette)
{
    return mix(palette.color(QPalette::Active, QPalette::WindowText),
               palette.color(QPalette::Active, QPalette::Window), 0.12);
}

QColor bannerFill(const QPalette& palette)
{
    // The starting shade, not the adjusted one: the banner is one of the surfaces it is
    // adjusted against.
    return mix(startShade(Role::info, palette), palette.color(QPalette::Active, QPalette::Window),
               0.08);
}

QColor bannerBorder(const QPalette& palette)
{
    return mix(colour(Role::info, palette), palette.color(QPalette::Active, QPalette::Window),
               0.25);
}

void setTextRole(QWidget* widget, Role role)
{
    QPalette colours = widget->palette();
    const QColor text = colour(role, colours);
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::Text, text);
    widget->setPalette(colours);
}

void makeDestructive(QAbstractButton* button)
{
    QPalette colours = button->palette();
    const QColor fill = colour(Role::destructiveFill, colours);
    const QColor label = labelOn(fill);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Button, fill);
        colours.setColor(group, QPalette::ButtonText, label);
    }
    button->setPalette(colours);
}

} // namespace Palette
