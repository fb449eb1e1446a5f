#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/media_time.h"
#include "editor/RCExportOptions.h"
#include "library/RCRecording.h"

namespace pindle {

// The editor's Options tab without its window: the trim slider's arithmetic, the option
// menus and their codes, the information line, the size and save buttons, the save formats
// and the upload checks.

// Two knob values and a playback marker between a minimum and a maximum. The knobs never come
// closer than the minimum gap.
class RCRangeSlider {
public:
    enum class Part { none, lowerKnob, upperKnob, band };

    double minValue() const { return minValue_; }
    double maxValue() const { return maxValue_; }
    void setRange(double minimum, double maximum);
    double minimumGap() const { return minimumGap_; }
    void setMinimumGap(double gap) { minimumGap_ = gap; }
    double lowerValue() const { return lower_; }
    double upperValue() const { return upper_; }
    // Set as given, kept inside the range.
    void setLowerValue(double value);
    void setUpperValue(double value);
    double playbackMarker() const { return marker_; }
    void setPlaybackMarker(double value);

    // The value travel of a pointer that moved pixels along a track of trackLength pixels.
    double valueDelta(double pixels, double trackLength) const;
    // Moves the part being dragged by d: a knob stops at the range's end and at the minimum
    // gap from the other knob; the band moves only when both knobs stay inside the range,
    // otherwise neither moves.
    void drag(Part part, double d);

    // The gap that keeps a trim of a recording lasting durationSeconds at least half a second
    // long (the whole range for recordings shorter than that).
    static double minimumGapForDuration(double durationSeconds);

private:
    double minValue_ = 0;
    double maxValue_ = 1;
    double minimumGap_ = 0;
    double lower_ = 0;
    double upper_ = 1;
    double marker_ = 0;
};

// One item of an option menu: its label and the code stored for it.
struct RCOptionMenuItem {
    const char* label;
    int64_t code;
};

struct RCOptionMenu {
    const char* key;  // the name of the stored value
    std::vector<RCOptionMenuItem> items;

    // The code of the item at index (the first item's for an index outside the menu).
    int64_t codeAtIndex(int index) const;
};

const RCOptionMenu& loopTypeMenu();
const RCOptionMenu& resizeMenu();
const RCOptionMenu& frameRateMenu();
// The item a stored code selects; unknown codes select the first item.
int loopTypeMenuIndex(int64_t code);
int resizeMenuIndex(int64_t code);
int frameRateMenuIndex(int64_t code);

// The playback speed menu: one label per entry of kPlaybackSpeeds ("2x"), and the entry of a
// speed (the 1x entry for a speed not offered).
const std::vector<std::string>& playbackSpeedMenuLabels();
int playbackSpeedMenuIndex(double speed);
double playbackSpeedAtIndex(int index);

// The labels of the information line for the recording's current edit.
struct RCEditorInfoLine {
    std::string duration;    // "5.0s": how long the export plays, at its speed
    std::string dimensions;  // "640 x 360"
    std::string frameRate;   // "15 fps"
    std::string frameCount;  // "75"
};
RCEditorInfoLine editorInfoLine(const RCRecording& recording);

// A byte count as a file size in decimal units: "812 bytes", "45 KB", "3.4 MB", "1.25 GB".
std::string formatFileSize(int64_t bytes);

// The size button: "Calculate size" until an estimate is asked for, "Processing..." while
// it runs, then the size.
class RCSizeButton {
public:
    static constexpr const char* kCalculateTitle = "Calculate size";
    static constexpr const char* kProcessingTitle = "Processing...";

    const std::string& title() const { return title_; }
    // A change to the edit: a shown size no longer holds, nor does one still being made.
    void invalidate();
    // Whether an estimate should be started: not while the estimator is busy.
    bool beginEstimate(bool estimatorIsCalculating);
    // The estimator's answer; below one byte means no answer. An answer for an edit that
    // has changed since it was asked for is dropped.
    void finishEstimate(int64_t bytes);
    // The edit an answer belongs to: taken when the estimate starts, given back with it.
    uint64_t edit() const { return edit_; }
    void finishEstimate(int64_t bytes, uint64_t edit);

private:
    std::string title_ = kCalculateTitle;
    uint64_t edit_ = 0;
};

// The save button's states and its progress bar.
class RCSaveButton {
public:
    enum class State { idle, saving, saved };
    static constexpr std::chrono::seconds kSavedDisplayTime{2};

    State state() const { return state_; }
    std::string title() const;
    float progress() const { return progress_; }
    // The width of the progress bar on a button that is buttonWidth wide (0 unless saving).
    double progressBarWidth(double buttonWidth) const;

    void beginSaving();
    void setProgress(float fraction);
    void finishSaving();
    // A cancelled save, or the end of the "SAVED" display.
    void reset();

private:
    State state_ = State::idle;
    float progress_ = 0;
};

// The formats of the save dialog, by the value stored as the preferred save format.
enum class SaveFormat : int64_t { gif = 0, mp4 = 1, batch = 2 };

// The format chooser of the save dialog.
class RCSavePanelFileTypeView {
public:
    // Any stored value other than 0 and 1 preselects "Batch".
    explicit RCSavePanelFileTypeView(int64_t preferredFormat);

    static const std::vector<std::string>& menuItems();
    int selectedIndex() const { return selectedIndex_; }
    void selectIndex(int index);
    // 1 for the second item, 0 for the first, 2 otherwise.
    SaveFormat selectedSaveFormat() const;
    // The one extension the dialog allows: "gif", "mp4", or "" (a plain name) for a batch.
    std::string allowedFileType() const;

private:
    int selectedIndex_ = 0;
};

// The menu item of a format ("GIF (*.gif)").
std::string saveFormatMenuItem(SaveFormat format);
// The format whose menu item is label (GIF for an unknown one).
SaveFormat saveFormatForMenuItem(const std::string& label);
// The dialog's proposed name at time, "Dec-07-2026 09-05-12", in local time.
std::string proposedSaveName(std::chrono::system_clock::time_point time);
// The format of a chosen name: one ending in ".gif" or ".mp4" is that format whatever the
// dialog's file type list showed; any other name keeps the listed format.
SaveFormat saveFormatForChosenPath(const std::filesystem::path& chosen, SaveFormat listed);
// The chosen path with the format's extension: added when missing; for a batch, the name
// the user typed, which becomes a folder.
std::filesystem::path savePathForFormat(const std::filesystem::path& chosen, SaveFormat format);

// GIFs whose quick estimate is larger than this are only saved after a warning.
inline constexpr uint64_t kLargeGIFWarningBytes = 50'000'000;
bool needsLargeGIFWarning(uint64_t quickEstimateBytes);

struct RCAlertText {
    std::string message;
    std::string informativeText;
};
inline const RCAlertText kLargeGIFWarning{
    "Large Filesize Warning",
    "These settings will result in a very large GIF filesize. It is recommended that you "
    "reduce the dimensions/duration/framerate or save as an MP4 instead."};

// Why an upload cannot start now.
enum class RCUploadCheck { allowed, needsSignIn, tooLongGIF, tooLongClip };
RCUploadCheck checkUpload(const RCRecording& recording, bool signedIn);
// The refusal sheet of a too-long upload.
RCAlertText uploadRefusalText(RCUploadCheck check);

// The Options tab's state for one recording: the controls' values, written into the
// recording's edit parameters on every change. editsChanged is called after each write so
// that the library saves the edits.
class RCEditorOptionsModel {
public:
    explicit RCEditorOptionsModel(RCRecordingPtr recording,
                                  std::function<void()> editsChanged = nullptr);

    const RCRecordingPtr& recording() const { return recording_; }
    RCRangeSlider& slider() { return slider_; }
    const RCRangeSlider& slider() const { return slider_; }

    MediaTime trimmedStartTime() const;
    MediaTime trimmedEndTime() const;
    void setTrimmedStartTime(MediaTime time);
    void setTrimmedEndTime(MediaTime time);

    int loopTypeIndex() const { return loopTypeIndex_; }
    int resizeIndex() const { return resizeIndex_; }
    int frameRateIndex() const { return frameRateIndex_; }
    int64_t selectedLoopType() const { return loopTypeMenu().codeAtIndex(loopTypeIndex_); }
    int64_t selectedResizeValue() const { return resizeMenu().codeAtIndex(resizeIndex_); }
    int64_t selectedFrameRate() const { return frameRateMenu().codeAtIndex(frameRateIndex_); }
    int playbackSpeedIndex() const { return speedIndex_; }
    double selectedPlaybackSpeed() const { return playbackSpeedAtIndex(speedIndex_); }

    // A menu choice or the end of a trim drag: the edit parameters take the controls'
    // values.
    void selectLoopTypeIndex(int index);
    void selectResizeIndex(int index);
    void selectFrameRateIndex(int index);
    void selectPlaybackSpeedIndex(int index);
    void trimChanged();

    // The edit's crop as it applies to the movie (none: the whole picture).
    std::optional<CropRect> cropRect() const;
    // Stores rect fitted to the movie, none for the whole picture, and calls editsChanged.
    void setCropRect(std::optional<CropRect> rect);

    // Writes trim start and end, loop type, resize value, frame rate and speed into the recording's
    // edit parameters, then calls editsChanged.
    void updateEditParameters();

    // The playback marker for a player time.
    void setPlaybackTime(MediaTime time);

    // The options of an export of the current edit, with the caption and watermark layers.
    RCExportOptions exportOptions(SaveFormat format) const;

private:
    RCRecordingPtr recording_;
    std::function<void()> editsChanged_;
    RCRangeSlider slider_;
    int loopTypeIndex_ = 0;
    int resizeIndex_ = 0;
    int frameRateIndex_ = 0;
    int speedIndex_ = playbackSpeedMenuIndex(1.0);
};

}  // namespace pindle
