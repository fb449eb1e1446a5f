#include <gtest/gtest.h>

#include "editor/CropEditing.h"
#include "editor/RCEditorOptions.h"
#include "fake_movies.h"

namespace pindle {
namespace {

TEST(CropEditing, DrawingMovingAndResizingStayInsideThePicture) {
    CropEditing crop(Size{640, 480});
    EXPECT_EQ(crop.rect(), (CropRect{0, 0, 640, 480}));
    EXPECT_FALSE(crop.crop());

    // Without a crop a press inside the picture draws one; with one, a press outside it draws
    // a new one...
    EXPECT_EQ(crop.grabAt(Point{100, 50}), CropEditing::Grab::Draw);
    crop.setCrop(CropRect{200, 200, 100, 100});
    EXPECT_EQ(crop.grabAt(Point{250, 250}), CropEditing::Grab::Move);
    crop.press(Point{100, 50});
    crop.drag(Point{420, 290});
    EXPECT_TRUE(crop.release());
    EXPECT_EQ(crop.crop(), (CropRect{100, 50, 320, 240}));
    // ... also up and to the left of the press, and never past the picture's edge.
    crop.press(Point{630, 470});
    crop.drag(Point{-50, 400});
    crop.release();
    EXPECT_EQ(crop.rect(), (CropRect{0, 400, 630, 70}));

    // Moved by its inside, stopped at the edge without changing size.
    crop.setCrop(CropRect{100, 50, 320, 240});
    crop.press(Point{200, 100});
    crop.drag(Point{900, 90});
    crop.release();
    EXPECT_EQ(crop.rect(), (CropRect{320, 40, 320, 240}));

    // A corner handle moves that corner; the opposite one stays. A drag past the opposite
    // side leaves the smallest rectangle.
    crop.setCrop(CropRect{100, 50, 320, 240});
    EXPECT_EQ(crop.grabAt(Point{421, 289}), CropEditing::Grab::BottomRight);
    EXPECT_EQ(crop.grabAt(Point{100, 150}), CropEditing::Grab::Left);
    crop.press(Point{420, 290});
    crop.drag(Point{500, 300});
    crop.release();
    EXPECT_EQ(crop.rect(), (CropRect{100, 50, 400, 250}));
    crop.press(Point{100, 50});
    crop.drag(Point{700, 40});
    crop.release();
    EXPECT_EQ(crop.rect(), (CropRect{484, 40, CropEditing::kMinimumSide, 260}));

    // A drag that ends where it started changes nothing.
    crop.press(Point{490, 100});
    crop.drag(Point{490, 100});
    EXPECT_FALSE(crop.release());
}

TEST(CropEditing, TheLockedAspectHoldsForHandlesEdgesAndNumbers) {
    CropEditing crop(Size{640, 480}, CropRect{100, 50, 320, 240});
    crop.setAspectLocked(true);

    // A corner drag follows the larger of the two moves.
    crop.press(Point{420, 290});
    crop.drag(Point{520, 300});
    crop.release();
    EXPECT_EQ(crop.rect(), (CropRect{100, 50, 420, 315}));

    // Grown as far as the picture allows, still 4:3.
    crop.press(Point{520, 365});
    crop.drag(Point{2000, 2000});
    crop.release();
    EXPECT_EQ(crop.rect(), (CropRect{100, 50, 540, 405}));

    // An edge sets the other side about the middle.
    crop.setCrop(CropRect{100, 100, 320, 240});
    crop.setAspectLocked(true);
    crop.press(Point{420, 200});
    crop.drag(Point{340, 200});
    crop.release();
    EXPECT_EQ(crop.rect(), (CropRect{100, 130, 240, 180}));

    // A drawn rectangle keeps the locked ratio too.
    crop.press(Point{10, 10});
    crop.drag(Point{90, 400});
    crop.release();
    EXPECT_EQ(crop.rect().width * 3, crop.rect().height * 4);

    // Typed numbers: a new width brings its height; too large is fitted to the picture.
    crop.setCrop(CropRect{100, 50, 320, 240});
    crop.setAspectLocked(true);
    crop.setNumbers(CropRect{100, 50, 160, 240});
    EXPECT_EQ(crop.rect(), (CropRect{100, 50, 160, 120}));
    crop.setNumbers(CropRect{600, 50, 160, 900});
    EXPECT_EQ(crop.rect(), (CropRect{0, 0, 640, 480}));
    EXPECT_FALSE(crop.crop());
    crop.setAspectLocked(false);
    crop.setNumbers(CropRect{600, 50, 100, 900});
    EXPECT_EQ(crop.rect(), (CropRect{540, 0, 100, 480}));
}

TEST(CropEditing, TheEditKeepsTheFittedCropAndTheInformationLineFollowsIt) {
    test::FakeMovies movies;
    std::filesystem::path file = "/fake/crop.mp4";
    movies.add(file, test::FakeMovies::video(640, 480, 4, 30));
    auto recording = RCRecording::recordingWithURL(file);
    int saves = 0;
    RCEditorOptionsModel model(recording, [&] { ++saves; });

    model.setCropRect(CropRect{100, 50, 320, 240});
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(recording->editParameters()->cropRect(), (CropRect{100, 50, 320, 240}));
    EXPECT_EQ(editorInfoLine(*recording).dimensions, "320 x 240");
    model.selectResizeIndex(3);  // 320px: the crop's shape, not the movie's
    model.setCropRect(CropRect{0, 0, 320, 80});
    EXPECT_EQ(editorInfoLine(*recording).dimensions, "320 x 80");
    EXPECT_EQ(model.exportOptions(SaveFormat::gif).crop, (CropRect{0, 0, 320, 80}));

    // Past the picture it is cut to fit; the whole picture is no crop at all.
    model.setCropRect(CropRect{600, 400, 100, 100});
    EXPECT_EQ(recording->editParameters()->cropRect(), (CropRect{600, 400, 40, 80}));
    model.setCropRect(CropRect{0, 0, 640, 480});
    EXPECT_FALSE(recording->editParameters()->cropRect());
    EXPECT_FALSE(model.exportOptions(SaveFormat::gif).crop);
    EXPECT_EQ(editorInfoLine(*recording).dimensions, "320 x 240");
}

}  // namespace
}  // namespace pindle
