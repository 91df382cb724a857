#include "core/control_layout.h"

#include <climits>
#include <cmath>
#include <cstdio>

namespace core {

namespace {

int Difference(int a, int b) {
    // A 32-bit subtraction that wraps instead of overflowing.
    return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

int Truncate(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);  // toward zero
}

}  // namespace

double ProgressFraction(int position, int lower, int upper) {
    return static_cast<double>(Difference(position, lower)) / static_cast<double>(Difference(upper, lower));
}

int ProgressFillWidth(int position, int lower, int upper, int clientWidth) {
    if (Difference(upper, lower) == 0) return 0;
    return Truncate(ProgressFraction(position, lower, upper) * clientWidth);
}

std::string ProgressPercentText(int position, int lower, int upper) {
    if (lower >= upper) return std::string();
    char text[24];
    std::snprintf(text, sizeof text, "%d%%", Truncate(ProgressFraction(position, lower, upper) * 100.0));
    return text;
}

ProgressPicture LayoutProgress(const ProgressState& s, const Rect& client, Colour systemHighlight, Colour systemWindow) {
    ProgressPicture p;
    if (s.lower >= s.upper) return p;
    p.draw = true;
    p.barColour = s.bar == kDefaultColour ? systemHighlight : s.bar;
    p.backColour = s.back == kDefaultColour ? systemWindow : s.back;
    const double f = ProgressFraction(s.position, s.lower, s.upper);
    p.bar = p.track = client;
    if (!s.vertical) {
        const int x = client.left + Truncate((client.right - client.left) * f);
        p.bar.right = p.track.left = x;
    } else {
        const int y = client.bottom - Truncate((client.bottom - client.top) * f);
        p.bar.top = p.track.bottom = y;
    }
    p.caption = s.showCaption && !s.vertical;
    if (p.caption) {
        p.text = s.caption.empty() ? ProgressPercentText(s.position, s.lower, s.upper) : s.caption;
        p.textOverBar = s.captionColour == kDefaultColour ? p.backColour : s.captionColour;
        p.textOverTrack = s.captionColour == kDefaultColour ? p.barColour : s.captionColour;
    }
    return p;
}

ProgressPicture InHighContrast(ProgressPicture p, const SystemColours& c) {
    p.barColour = c.highlight;
    p.backColour = c.window;
    p.textOverBar = c.highlightText;
    p.textOverTrack = c.windowText;
    return p;
}

int BannerScaleFor(unsigned dpi) {
    int chosen = 100;
    for (const int scale : {125, 150, 200, 300}) {
        if (static_cast<unsigned long long>(dpi) * 100 >= static_cast<unsigned long long>(scale) * 96) chosen = scale;
    }
    return chosen;
}

int Scaled(int pixels, unsigned dpi) {
    const long long scaled = (static_cast<long long>(pixels) * dpi + 48) / 96;
    return pixels >= 1 && scaled < 1 ? 1 : static_cast<int>(scaled);
}

Colour GradientColour(int i, bool emphasis, bool mouseInside) {
    if (!mouseInside) return emphasis ? Rgb(255 - i / 3, 255 - i / 3, 255 - i / 4) : Rgb(255 - i / 3, 255 - i / 3, 255 - i / 5);
    return emphasis ? Rgb(255 - i / 4, 255 - i / 4, 255 - i / 3) : Rgb(255 - i / 4, 255 - i / 4, 255 - i / 5);
}

int GradientRowBrush(int y, int height) {
    if (height <= 0) return -1;
    const int brush = 63 * y / height;
    return brush > 63 || brush < 0 ? -1 : brush;
}

RowSpan GradientRows(int top, int height) {
    if (height <= 0) return {};
    return {top, height + 1};
}

void EdgeLines(const Rect& r, bool focusSet, EdgeLine (&lines)[4], unsigned dpi) {
    const Colour left = focusSet ? Rgb(153, 198, 252) : Rgb(250, 196, 88);
    const Colour top = focusSet ? Rgb(162, 201, 255) : Rgb(252, 210, 121);
    const Colour right = focusSet ? Rgb(162, 189, 252) : Rgb(251, 202, 106);
    const Colour bottom = focusSet ? Rgb(162, 201, 255) : Rgb(229, 151, 0);
    const int one = Scaled(1, dpi), two = Scaled(2, dpi), three = Scaled(3, dpi);
    lines[0] = {r.left, r.bottom - three, r.left, r.top + two, left, three};
    lines[1] = {r.right - one, r.bottom - three, r.right - one, r.top + two, right, three};
    lines[2] = {r.left + two, r.top, r.right - two, r.top, top, two};
    lines[3] = {r.left + two, r.bottom, r.right - two, r.bottom, bottom, two};
}

}  // namespace core
