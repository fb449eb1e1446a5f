#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/color.h"
#include "base/geometry.h"
#include "base/media_time.h"
#include "editor/RCEditorOptions.h"
#include "library/RCRecording.h"

namespace pindle {

class RCLoopingAVPlayer;

// The editor's Captions tab without its window: the caption list and its active row, adding,
// deleting, reordering and timing captions, the style window's choices, the timeline
// playhead and the live preview's hit-testing and dragging.

inline constexpr const char* kNewCaptionText = "Enter caption...";
// Row previews show at most this many characters of a caption's text, then "...".
inline constexpr size_t kCaptionPreviewLength = 55;
inline constexpr double kCaptionRowHeight = 30;
// The drag-and-drop type of a caption row; its value is the row's index.
inline constexpr const char* kCaptionRowMimeType = "rc.captionTableViewIndex";
// The selected caption's outline reaches this far beyond its text (video pixels).
inline constexpr double kSelectionOutsetX = 40;
inline constexpr double kSelectionOutsetY = 20;

// A caption spanning the recording's trimmed range, centred in the frame, reading
// "Enter caption...", in the default style.
std::shared_ptr<RCTimedCaption> makeNewCaption(const RCRecording& recording);

// The text of a caption's row: its first 55 characters (whole UTF-8 characters) followed
// by "..." when it is longer.
std::string captionTextPreview(const std::string& text);

// The style window's palette and menus, in the order shown.
struct RCPaletteColor {
    const char* name;
    Color color;
};
const std::vector<RCPaletteColor>& captionPalette();
struct RCCaptionSizeItem {
    const char* label;
    CaptionSize size;
};
const std::vector<RCCaptionSizeItem>& captionSizeItems();  // "XS" ... "XL"
struct RCCaptionFontItem {
    const char* label;
    const char* fontName;
};
const std::vector<RCCaptionFontItem>& captionFontItems();  // "Default", "Italicized"
// The animation menu lists the types in value order: "None", "Fade", "Scale", "Move", "Drop".

// What the tab needs of the preview player. Times are on the recording's timeline; seeks
// are exact.
class RCCaptionsPlayback {
public:
    virtual ~RCCaptionsPlayback() = default;
    virtual bool isPlaying() const = 0;
    virtual MediaTime currentTime() const = 0;
    virtual void pause() = 0;
    // Continues from the current time.
    virtual void resume() = 0;
    virtual void seekExactly(MediaTime time) = 0;
};

// The editor's looping player as the tab drives it: resuming continues in the direction it
// last played (forward, or backward for the reverse loop) instead of restarting the loop.
class RCLoopingPlayerPlayback final : public RCCaptionsPlayback {
public:
    explicit RCLoopingPlayerPlayback(RCLoopingAVPlayer& player) : player_(player) {}
    bool isPlaying() const override;
    MediaTime currentTime() const override;
    void pause() override;
    void resume() override;
    void seekExactly(MediaTime time) override;

private:
    RCLoopingAVPlayer& player_;
    double lastRate_ = 0;
};

// What the window shows in answer to the model's changes. Every handler may be empty.
struct RCCaptionsTabEvents {
    // The list and the preview (rebuild the captions layer) show the captions again.
    std::function<void()> reload;
    // Only the caption at index moved in the preview: move its layer, without animation.
    std::function<void(int index)> captionMoved;
    std::function<void(int row)> scrollToRow;
    // Show the style window; makeKey: also give it the keyboard.
    std::function<void(bool makeKey)> showStyleWindow;
    std::function<void()> closeStyleWindow;
};

// The Captions tab's state for one recording. Every change is made in place on the
// recording's captions; editsChanged is called after each so that the library saves them
// (once at the end of a drag, not on every pointer move).
class RCEditorCaptionsModel {
public:
    RCEditorCaptionsModel(RCRecordingPtr recording, RCCaptionsPlayback* player,
                          std::function<void()> editsChanged = nullptr,
                          RCCaptionsTabEvents events = {});

    const RCRecordingPtr& recording() const { return recording_; }
    // Empty for a recording without edit parameters.
    const CaptionList& captions() const;
    int activeCaptionIndex() const { return activeIndex_; }
    std::shared_ptr<RCTimedCaption> activeCaption() const;

    // --- The list
    int numberOfRows() const { return int(captions().size()); }
    bool placeholderVisible() const { return captions().empty(); }
    // Only the active row is enabled (usable delete button, no disabled glass).
    bool rowEnabled(int row) const { return row == activeIndex_; }
    std::string rowText(int row) const;
    // The row slider's knobs: start and end as fractions of the recording's duration.
    double rowLowerValue(int row) const;
    double rowUpperValue(int row) const;
    // The greyed parts of the timeline: [0, trimStartFraction] and [trimEndFraction, 1].
    double trimStartFraction() const;
    double trimEndFraction() const;

    // Either add button.
    void addCaption();
    // A row's delete button: removes the active caption (other rows' buttons are unusable).
    void deleteCaption(int row);
    // A click on a row.
    void selectRow(int row);
    // A row drag may drop only between rows (above dropRow, 0...count).
    bool validateDrop(int fromRow, int dropRow, bool dropAbove) const;
    // Moves the caption at fromRow to drop position dropRow and makes it active.
    bool moveCaption(int fromRow, int dropRow);

    // A row's range slider moved (mouse down) or was released (mouse up); lower and upper
    // are its knobs, part what is being dragged.
    void rowRangeChanged(int row, double lower, double upper, RCRangeSlider::Part part);
    void rowRangeReleased(int row, double lower, double upper);
    bool rowRangeDragging() const { return wasPreviouslyPlaying_.has_value(); }

    // --- Playback and the timeline playhead
    void togglePlayPause();
    // "PLAY" while paused, "PAUSE" while playing.
    const char* playButtonTitle() const;
    bool playheadVisible() const { return !rowRangeDragging(); }
    double playheadValue() const { return playheadValue_; }
    // The periodic time observer.
    void playbackTimeChanged(MediaTime time);
    // The playhead dragged to x on a timeline width wide: seeks (only for 1 < x < width - 1).
    void dragPlayhead(double x, double width);
    void endPlayheadDrag() { playheadDragging_ = false; }

    // --- The tab and the style window
    void tabShown();
    void tabHidden();
    // The editor closes.
    void prepareForClose();
    bool editModeEnabled() const { return editMode_; }
    bool styleWindowVisible() const { return styleWindowVisible_; }
    // The style window's caption: the active one, or none.
    std::shared_ptr<RCTimedCaption> styleCaption() const { return activeCaption(); }
    // The menu rows the style window shows selected for the active caption (-1 for none).
    int styleSizeIndex() const;
    int styleFontIndex() const;
    int styleAnimationIndex() const;
    int styleColorIndex() const;

    void setText(const std::string& text);
    // Whether a click into the text field selects all of it: while it reads the new
    // caption's text.
    bool textFieldClickSelectsAll() const;
    void chooseSizeIndex(int index);
    void chooseFontIndex(int index);
    void chooseAnimationIndex(int index);
    // The palette colour at index; white for none (-1).
    void chooseColorIndex(int index);

    // --- The preview
    // The preview's size in view points. The video is drawn aspect-fitted into it.
    void setPreviewSize(Size size);
    // Where the video (and the captions layer scaled over it) is drawn in the view.
    Rect displayedRect() const;
    // Video pixels per view point: the recording's own pixel size against the displayed
    // rectangle, so that a caption dragged in the preview moves under the pointer whatever
    // the output size.
    double playerScale() const;
    // A view point (origin top-left, y down) in video pixels (origin bottom-left, y up).
    Point videoPoint(Point viewPoint) const;
    // The rectangle in video pixels that a click must hit to take caption index: its text,
    // grown by the outline when it is the selected one.
    Rect captionHitRect(int index) const;
    // Mouse down: a click on the selected caption starts dragging it; one on another caption
    // only makes it active. Returns the caption hit, or -1.
    int previewMouseDown(Point viewPoint);
    void previewMouseDragged(Point viewPoint);
    void previewMouseUp();
    bool isDraggingCaption() const { return dragging_; }

private:
    CaptionList* mutableCaptions() const;
    void applyActiveIndex(int index);
    void clearSelection();
    void reload();
    void changed();
    void showStyleWindow(bool makeKey);
    void closeStyleWindow();
    MediaTime duration() const { return recording_->duration(); }

    RCRecordingPtr recording_;
    RCCaptionsPlayback* player_;
    std::function<void()> editsChanged_;
    RCCaptionsTabEvents events_;

    int activeIndex_ = -1;
    bool editMode_ = false;
    bool styleWindowVisible_ = false;

    std::optional<bool> wasPreviouslyPlaying_;
    std::optional<MediaTime> previousPlaybackTime_;

    double playheadValue_ = 0;
    bool playheadDragging_ = false;

    Size previewSize_;
    bool dragging_ = false;
    Point initialDragLocation_;
};

}  // namespace pindle
