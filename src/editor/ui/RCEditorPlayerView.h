#pragma once

#include <QWidget>

#include <functional>
#include <optional>

#include "base/media_time.h"
#include "library/RCRecording.h"

namespace pindle {
class CropEditing;
class GIFExportCache;
class RCCaptionsPlayback;
class RCEditorCaptionsModel;
}  // namespace pindle

namespace pindle::ui {

// The preview area of the editor and the playback calls the editor makes on it. The window
// and the Options tab speak only to this class; a looping player's view implements it and
// is made by makeEditorPlayerView().
class RCEditorPlayerView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

    // The loop type code of the edit parameters (normal, reverse, ping-pong).
    virtual void setLoopType(int64_t loopType) = 0;
    // Playback stays between start (where reverse playback ends) and end (where forward
    // playback ends).
    virtual void setPlaybackRange(MediaTime start, MediaTime end) = 0;
    // Pictures play this many times as fast as recorded (the export's playback speed).
    virtual void setPlaybackSpeed(double speed) = 0;
    // Shows the frame at time exactly.
    virtual void seekExactly(MediaTime time) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;
    virtual MediaTime currentTime() const = 0;
    virtual void setMuted(bool muted) = 0;
    // Calls block with the playback time every interval while playing (at most once a frame)
    // and when the time jumps. Returns a token for removeTimeObserver (0: no movie to play).
    virtual int addPeriodicTimeObserver(MediaTime interval,
                                        std::function<void(MediaTime)> block) = 0;
    virtual void removeTimeObserver(int token) = 0;
    // Builds the caption and watermark layers again (the user's watermark changed).
    virtual void reloadLayers() = 0;
    // The editor is closing: stop playing and let go of the movie.
    virtual void stop() = 0;

    // --- Caption editing (the Captions tab)
    // The tab's model: told the view's size, and, while edit mode is on, given the presses
    // and drags in the view. Null: no caption editing. The model must outlive its use here.
    virtual void setCaptionsModel(RCEditorCaptionsModel* model) = 0;
    // On: the selected caption is drawn with its dashed outline and can be dragged.
    virtual void setEditModeEnabled(bool enabled) = 0;
    virtual bool editModeEnabled() const = 0;
    // Only the caption at index moved: the frame on screen is drawn again with the caption at
    // its new place at once, without rebuilding the other layers.
    virtual void captionMoved(int index) = 0;
    // The player as the Captions tab drives it; null when there is no movie to play.
    virtual RCCaptionsPlayback* captionsPlayback() = 0;

    // --- Cropping
    // Crop mode, on while editing is given: the whole recording is shown with the crop's
    // rectangle and handles and the outside dimmed, and presses and drags in the view draw,
    // move and resize it through editing (cropEdited at the end of each drag). Null ends crop
    // mode. Outside crop mode and caption editing the preview shows only the edit's crop.
    // editing must outlive its use here.
    virtual void setCropEditing(CropEditing* editing) = 0;
    // The edit's crop changed: the preview and the watermark follow it.
    virtual void cropChanged() = 0;

    // --- Dragging the GIF out
    // Outside caption editing, dragging the preview drags the GIF of the recording's edit
    // that cache makes. It is made in the background, its progress shown on the preview,
    // and the drag starts once the file is ready if the button is still held. Null: the
    // preview stays put. The cache must outlive its use here.
    virtual void setDragOutCache(GIFExportCache* cache) = 0;
    // How much of the GIF a drag waits for is made (0 to 1); none while nothing is made.
    virtual std::optional<float> dragOutProgress() const = 0;

signals:
    // The first frame of the movie has been painted.
    void readyForDisplay();
    // A frame and its layers reached the screen; time is the frame's.
    void painted(MediaTime time);
    // A drag in crop mode ended with the rectangle changed.
    void cropEdited();
};

// The preview of the editor for recording: its movie played by a looping player, each frame
// fitted into the view with its aspect ratio kept and the captions and watermark drawn over it.
RCEditorPlayerView* makeEditorPlayerView(RCRecordingPtr recording, QWidget* parent);

}  // namespace pindle::ui
