#pragma once

namespace core {

// Percentage of a download: trunc(count * 100 / total) in double precision. Positions above 100 are
// possible (a total taken from the bytes available at first) and passed on as computed. With no total
// known at all the bar stays at 0 until the download ends.
int DownloadPercent(double count, double total);

}  // namespace core
