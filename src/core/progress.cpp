#include "core/progress.h"

#include <climits>

namespace core {

int DownloadPercent(double count, double total) {
    if (total <= 0.0) return 0;
    const double percent = count * 100.0 / total;
    if (percent >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(percent);  // truncation toward zero
}

}  // namespace core
