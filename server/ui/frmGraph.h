#pragma once
// The performance graph's drawing, worked out without a display: the scale, whether the axes fit
// and the line's points from the oldest second on the left to the newest on the right.
#include <array>
#include <cstdint>
#include <vector>

namespace serverui {

struct GraphPoint {
    double x = 0;
    double y = 0;
};

struct GraphDrawing {
    int scale = 1;            // the largest count, at least 1
    std::vector<int> counts;  // oldest second first
    bool axes = false;        // the area is large enough for axes and the line
    // The axes' corner (left, bottom) and their far ends, in area units.
    double left = 0, bottom = 0, top = 0, right = 0;
    std::vector<GraphPoint> line;
};

class frmGraph {
  public:
    static constexpr const char* kTitle = "Requests per second:";
    static constexpr int kMinHeight = 55;
    static constexpr int kMinWidth = 100;
    // Room kept around the axes for the title and the scale text.
    static constexpr double kMarginLeft = 40, kMarginTop = 24, kMarginRight = 8, kMarginBottom = 8;

    // counts are indexed by the clock's seconds; nowSecond is the present one.
    static GraphDrawing Draw(const std::array<int16_t, 60>& counts, int nowSecond, int width,
                             int height);
};

}  // namespace serverui
