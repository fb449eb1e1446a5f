#pragma once

#include <optional>

#include "base/crop_rect.h"
#include "base/geometry.h"

namespace pindle {

// The crop rectangle as the user draws it on the preview, in the recording's pixels (x right,
// y down from the top-left corner). A press outside the rectangle (or anywhere inside the
// picture while there is no crop) draws a new one from that point, a press inside moves it, a press
// on one of its eight handles moves that corner or edge. The rectangle always stays inside the
// picture and at least kMinimumSide pixels wide and high; with the aspect locked, resizing keeps
// its width-to-height ratio.
class CropEditing {
public:
    static constexpr int kMinimumSide = 16;
    // How far from a corner or edge, in picture pixels, a press still takes it.
    static constexpr double kDefaultGrabDistance = 8;

    enum class Grab {
        None,
        Draw,
        Move,
        Left,
        Right,
        Top,
        Bottom,
        TopLeft,
        TopRight,
        BottomLeft,
        BottomRight
    };

    explicit CropEditing(Size picture, std::optional<CropRect> crop = std::nullopt);

    Size picture() const { return picture_; }
    // The rectangle shown: the crop, or the whole picture when there is none.
    CropRect rect() const { return rect_; }
    // None when the rectangle is the whole picture.
    std::optional<CropRect> crop() const;
    void setCrop(std::optional<CropRect> crop);

    bool aspectLocked() const { return aspectLocked_; }
    // Locking keeps the rectangle's current ratio.
    void setAspectLocked(bool locked);

    // What a press at point would take (None outside the picture).
    Grab grabAt(Point point, double grabDistance = kDefaultGrabDistance) const;
    void press(Point point, double grabDistance = kDefaultGrabDistance);
    void drag(Point point);
    // Ends the drag; true when the rectangle changed since the press.
    bool release();
    bool isDragging() const { return grab_ != Grab::None; }

    // Typed numbers: fitted into the picture (the size first, then the origin); with the
    // aspect locked a changed width sets the height and a changed height the width.
    void setNumbers(const CropRect& numbers);

private:
    CropRect fitted(double left, double top, double right, double bottom, Grab grab) const;

    Size picture_;
    CropRect rect_;
    bool aspectLocked_ = false;
    double aspect_ = 1;  // width / height kept while locked
    Grab grab_ = Grab::None;
    Point pressPoint_;
    CropRect pressRect_;
};

}  // namespace pindle
