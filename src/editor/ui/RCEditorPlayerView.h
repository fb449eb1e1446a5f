#pragma once

#include <QWidget>

#include <functional>

#include "base/media_time.h"
#include "library/RCRecording.h"

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

signals:
    // The first frame of the movie has been painted.
    void readyForDisplay();
};

// The preview of the editor for recording: its movie played by a looping player, each frame
// fitted into the view with its aspect ratio kept and the captions and watermark drawn over it.
RCEditorPlayerView* makeEditorPlayerView(RCRecordingPtr recording, QWidget* parent);

}  // namespace pindle::ui
