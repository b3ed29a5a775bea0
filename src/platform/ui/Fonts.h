#pragma once

#include <QFont>
#include <QString>

namespace platform {

// The windows name the fonts they were designed with (MS Sans Serif, Arial) and place every
// control for them in 96-dpi pixels. Linux has neither font, and fontconfig's own answer for
// "MS Sans Serif" is whatever its default sans is (often the much wider DejaVu Sans), so every
// design font is drawn with one installed family chosen here by name, at a pixel size chosen
// so the widest fixed caption still fits its control.
struct FontChoice {
    // The family to draw with; empty: the first installed of Liberation Sans and Arimo, which
    // keep Arial's widths.
    QString family;
    // Pixels taken off every design size (8.25 pt is 11 px at 96 dpi): Liberation Sans drawn
    // by FreeType at the design size runs a pixel or two wider than the captions were laid
    // out for ("Min" needs 18 px where its label has 16).
    int pixelsLess = 1;
    // Whole-pixel glyph widths, as the captions were measured with on the design's 96-dpi
    // screen; without them "Min" still needs 17 px at 10 px.
    QFont::HintingPreference hinting = QFont::PreferFullHinting;
};

// Chooses the fonts and makes the default font of every control MS Sans Serif 8.25 pt as
// chosen. Windows made afterwards use the choice.
void installFonts(const FontChoice& choice = FontChoice());

// The family every design font is drawn with now.
QString designFamily();

QFont designFont(const QString& family, double points, bool bold = false);

}  // namespace platform
