#include "server/ui/frmGraph.h"

#include <algorithm>

namespace serverui {

GraphDrawing frmGraph::Draw(const std::array<int16_t, 60>& counts, int nowSecond, int width,
                            int height) {
    GraphDrawing g;
    const int now = ((nowSecond % 60) + 60) % 60;
    for (int i = 1; i <= 60; ++i) {
        const int count = counts[static_cast<size_t>((now + i) % 60)];
        g.counts.push_back(std::max(count, 0));
    }
    g.scale = std::max(1, *std::max_element(g.counts.begin(), g.counts.end()));
    g.axes = height >= kMinHeight && width >= kMinWidth;
    if (!g.axes) return g;
    g.left = kMarginLeft;
    g.top = kMarginTop;
    g.right = width - kMarginRight;
    g.bottom = height - kMarginBottom;
    const double step = (g.right - g.left) / 59.0;
    for (size_t i = 0; i < g.counts.size(); ++i) {
        const double y = g.bottom - (g.bottom - g.top) * g.counts[i] / g.scale;
        g.line.push_back({g.left + step * static_cast<double>(i), y});
    }
    return g;
}

}  // namespace serverui
