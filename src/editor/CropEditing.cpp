#include "editor/CropEditing.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pindle {
namespace {

int wholePixels(double value) {
    return std::isfinite(value) && value > 0 ? int(std::floor(value)) : 0;
}

}  // namespace

CropEditing::CropEditing(Size picture, std::optional<CropRect> crop)
    : picture_{double(wholePixels(picture.width)), double(wholePixels(picture.height))} {
    setCrop(crop);
}

std::optional<CropRect> CropEditing::crop() const {
    return clampedCrop(rect_, picture_);
}

void CropEditing::setCrop(std::optional<CropRect> crop) {
    auto fitted = clampedCrop(crop, picture_);
    rect_ = fitted ? *fitted : CropRect{0, 0, int(picture_.width), int(picture_.height)};
    if (rect_.height > 0) {
        aspect_ = double(rect_.width) / double(rect_.height);
    }
}

void CropEditing::setAspectLocked(bool locked) {
    aspectLocked_ = locked;
    if (rect_.width > 0 && rect_.height > 0) {
        aspect_ = double(rect_.width) / double(rect_.height);
    }
}

CropEditing::Grab CropEditing::grabAt(Point p, double d) const {
    if (p.x < -d || p.y < -d || p.x > picture_.width + d || p.y > picture_.height + d) {
        return Grab::None;
    }
    const CropRect& r = rect_;
    bool nearLeft = std::fabs(p.x - r.x) <= d;
    bool nearRight = std::fabs(p.x - r.maxX()) <= d;
    bool nearTop = std::fabs(p.y - r.y) <= d;
    bool nearBottom = std::fabs(p.y - r.maxY()) <= d;
    bool withinX = p.x >= r.x - d && p.x <= r.maxX() + d;
    bool withinY = p.y >= r.y - d && p.y <= r.maxY() + d;
    // Corners before edges, edges before the inside.
    const std::pair<bool, Grab> choices[] = {
        {nearTop && nearLeft, Grab::TopLeft},
        {nearTop && nearRight, Grab::TopRight},
        {nearBottom && nearLeft, Grab::BottomLeft},
        {nearBottom && nearRight, Grab::BottomRight},
        {nearLeft && withinY, Grab::Left},
        {nearRight && withinY, Grab::Right},
        {nearTop && withinX, Grab::Top},
        {nearBottom && withinX, Grab::Bottom},
        // Without a crop the rectangle is the whole picture, which cannot move: a press draws.
        {crop() && p.x > r.x && p.x < r.maxX() && p.y > r.y && p.y < r.maxY(), Grab::Move},
    };
    for (const auto& [when, grab] : choices) {
        if (when) {
            return grab;
        }
    }
    return Grab::Draw;
}

void CropEditing::press(Point point, double grabDistance) {
    grab_ = grabAt(point, grabDistance);
    pressPoint_ =
        Point{std::clamp(point.x, 0.0, picture_.width), std::clamp(point.y, 0.0, picture_.height)};
    pressRect_ = rect_;
}

void CropEditing::drag(Point point) {
    if (grab_ == Grab::None) {
        return;
    }
    double dx = point.x - pressPoint_.x;
    double dy = point.y - pressPoint_.y;
    const CropRect& r = pressRect_;
    if (grab_ == Grab::Move) {
        rect_.x = std::clamp(int(std::lround(r.x + dx)), 0, int(picture_.width) - r.width);
        rect_.y = std::clamp(int(std::lround(r.y + dy)), 0, int(picture_.height) - r.height);
        return;
    }
    // Each axis has a fixed side (or, for an edge grab, keeps its place and extent) and a
    // side that follows the pointer in direction +1 (right, down) or -1.
    struct Axis {
        double fixed = 0;   // the side that stays
        int direction = 0;  // 0: the axis follows the other one
        double moved = 0;   // where the moving side is asked to be
        double start = 0;   // the pressed rectangle's extent, for direction 0
        double length = 0;
    };
    auto axis = [](bool lowSide, bool highSide, int low, int high, double delta, double drawFrom,
                   double drawTo, bool drawing) {
        Axis a;
        a.start = low;
        a.length = high - low;
        if (drawing) {
            a.fixed = drawFrom;
            a.direction = drawTo >= drawFrom ? 1 : -1;
            a.moved = drawTo;
        } else if (highSide) {
            a.fixed = low;
            a.direction = 1;
            a.moved = high + delta;
        } else if (lowSide) {
            a.fixed = high;
            a.direction = -1;
            a.moved = low + delta;
        }
        return a;
    };
    bool drawing = grab_ == Grab::Draw;
    bool left = grab_ == Grab::Left || grab_ == Grab::TopLeft || grab_ == Grab::BottomLeft;
    bool right = grab_ == Grab::Right || grab_ == Grab::TopRight || grab_ == Grab::BottomRight;
    bool top = grab_ == Grab::Top || grab_ == Grab::TopLeft || grab_ == Grab::TopRight;
    bool bottom = grab_ == Grab::Bottom || grab_ == Grab::BottomLeft || grab_ == Grab::BottomRight;
    Axis x = axis(left, right, r.x, r.maxX(), dx, pressPoint_.x,
                  std::clamp(point.x, 0.0, picture_.width), drawing);
    Axis y = axis(top, bottom, r.y, r.maxY(), dy, pressPoint_.y,
                  std::clamp(point.y, 0.0, picture_.height), drawing);

    auto room = [](const Axis& a, double size) {
        return a.direction > 0 ? size - a.fixed : a.direction < 0 ? a.fixed : size;
    };
    auto wanted = [](const Axis& a) { return std::max(0.0, a.direction * (a.moved - a.fixed)); };
    double minW = std::min<double>(kMinimumSide, picture_.width);
    double minH = std::min<double>(kMinimumSide, picture_.height);
    double roomW = room(x, picture_.width);
    double roomH = room(y, picture_.height);
    double w = x.direction != 0 ? wanted(x) : x.length;
    double h = y.direction != 0 ? wanted(y) : y.length;
    if (aspectLocked_ && aspect_ > 0) {
        if (x.direction != 0 && y.direction != 0) {
            w = std::max(w, h * aspect_);
        } else if (y.direction != 0) {
            w = h * aspect_;
        }
        w = std::max({w, minW, minH * aspect_});
        w = std::min({w, roomW, roomH * aspect_});
        h = w / aspect_;
    } else {
        w = std::min(std::max(w, minW), roomW);
        h = std::min(std::max(h, minH), roomH);
    }
    auto place = [](const Axis& a, double length, double size) {
        if (a.direction > 0) {
            return a.fixed;
        }
        if (a.direction < 0) {
            return a.fixed - length;
        }
        // Kept centred where it was, inside the picture.
        double centre = a.start + a.length / 2;
        return std::clamp(centre - length / 2, 0.0, std::max(0.0, size - length));
    };
    double x0 = place(x, w, picture_.width);
    double y0 = place(y, h, picture_.height);
    CropRect next{int(std::lround(x0)), int(std::lround(y0)), int(std::lround(w)),
                  int(std::lround(h))};
    next.width = std::clamp(next.width, 1, int(picture_.width));
    next.height = std::clamp(next.height, 1, int(picture_.height));
    next.x = std::clamp(next.x, 0, int(picture_.width) - next.width);
    next.y = std::clamp(next.y, 0, int(picture_.height) - next.height);
    rect_ = next;
}

bool CropEditing::release() {
    bool changed = grab_ != Grab::None && rect_ != pressRect_;
    grab_ = Grab::None;
    return changed;
}

void CropEditing::setNumbers(const CropRect& numbers) {
    int width = int(picture_.width);
    int height = int(picture_.height);
    if (width <= 0 || height <= 0) {
        return;
    }
    int minW = std::min(kMinimumSide, width);
    int minH = std::min(kMinimumSide, height);
    int w = std::clamp(numbers.width, minW, width);
    int h = std::clamp(numbers.height, minH, height);
    if (aspectLocked_ && aspect_ > 0) {
        if (numbers.width != rect_.width) {
            h = int(std::lround(w / aspect_));
        } else if (numbers.height != rect_.height) {
            w = int(std::lround(h * aspect_));
        }
        if (h > height) {
            h = height;
            w = int(std::lround(h * aspect_));
        }
        if (w > width) {
            w = width;
            h = int(std::lround(w / aspect_));
        }
        w = std::max(w, 1);
        h = std::max(h, 1);
    }
    rect_ =
        CropRect{std::clamp(numbers.x, 0, width - w), std::clamp(numbers.y, 0, height - h), w, h};
}

}  // namespace pindle
