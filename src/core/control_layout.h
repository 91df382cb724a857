#pragma once
// Geometry and colours of the dialog's two custom controls, computed without a window.
#include <cstdint>
#include <string>

namespace core {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const Rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};
using Colour = std::uint32_t;  // 0x00BBGGRR, as the platform stores colours
constexpr Colour kDefaultColour = 0xFF000000;  // "use the system colour"
constexpr Colour Rgb(int r, int g, int b) { return static_cast<Colour>(r | (g << 8) | (b << 16)); }

// ---- text progress bar ----

// (pos - lower) / (upper - lower), the differences taken as 32-bit integers (wrapping as they do).
double ProgressFraction(int position, int lower, int upper);
// Filled width in whole pixels for a client width; 0 for an empty range (nothing is drawn for it).
int ProgressFillWidth(int position, int lower, int upper, int clientWidth);

// The percentage a bar stands at, as its caption shows it and a screen reader reads it ("29%"); empty for
// an empty or inverted range.
std::string ProgressPercentText(int position, int lower, int upper);

struct ProgressState {
    int position = 0, lower = 0, upper = 100;
    bool vertical = false;
    bool showCaption = true;
    std::string caption;  // empty: the percentage
    Colour bar = kDefaultColour, back = kDefaultColour, captionColour = kDefaultColour;
};
struct ProgressPicture {
    bool draw = false;  // false for an empty or inverted range
    Colour barColour = 0, backColour = 0;
    Rect bar, track;    // as computed: may be inverted for positions outside the range
    bool caption = false;
    std::string text;
    Colour textOverBar = 0, textOverTrack = 0;
};
// systemHighlight and systemWindow stand in for a default bar and background colour.
ProgressPicture LayoutProgress(const ProgressState& s, const Rect& client, Colour systemHighlight, Colour systemWindow);

// The system's colours a high-contrast theme chooses, which then stand in for every colour the program set.
struct SystemColours {
    Colour highlight = 0, highlightText = 0, window = 0, windowText = 0, buttonFace = 0, buttonText = 0;
};
// The picture of a bar under a high-contrast theme: the bar in the highlight colour under highlight text,
// the track in the window colour under window text.
ProgressPicture InHighContrast(ProgressPicture p, const SystemColours& c);

// ---- scale ----

// The banner drawn for a DPI: the largest of its scales (100, 125, 150, 200, 300 %) at or below dpi / 96.
int BannerScaleFor(unsigned dpi);
// A length of pixels at 96 DPI at dpi, rounded, at least 1 for a length of at least 1.
int Scaled(int pixels, unsigned dpi);

// ---- XP-style button ----

// Gradient brush i (0..63) by the button's state.
Colour GradientColour(int i, bool emphasis, bool mouseInside);
// Brush of the row at y inside a rectangle whose top is top and height is height; -1: left white.
int GradientRowBrush(int y, int height);
// The rows a gradient fills: y from top while y < height + 2 (the button's own coordinates).
struct RowSpan {
    int first = 0, last = -1;  // inclusive; empty when last < first
};
RowSpan GradientRows(int top, int height);

struct EdgeLine {
    int fromX, fromY, toX, toY;
    Colour colour;
    int width;
};
// The four edge lines of the inner rectangle: the focus set (blue) when focused and the pointer is
// outside, the hot set (orange) otherwise. Drawn only when focused or hot. Their insets and widths are
// those at 96 DPI scaled to dpi.
void EdgeLines(const Rect& inner, bool focusSet, EdgeLine (&lines)[4], unsigned dpi = 96);

}  // namespace core
