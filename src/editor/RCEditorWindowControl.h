#pragma once

#include "base/geometry.h"
#include "library/RCRecording.h"

namespace pindle {

// The editor window controller as the library drives it. close() tells the delegate
// editorWindowControllerWillClose() before the window goes.
class RCEditorWindowControl {
public:
    virtual ~RCEditorWindowControl() = default;
    virtual RCRecordingPtr recording() const = 0;
    // Global screen coordinates.
    virtual Rect windowFrame() const = 0;
    virtual void setWindowFrame(const Rect& frame) = 0;
    virtual void showWindow() = 0;
    virtual void bringToFront() = 0;
    virtual void close() = 0;
};

// Whoever opened the editor window, told when it closes.
class RCEditorWindowDelegate {
public:
    virtual ~RCEditorWindowDelegate() = default;
    virtual void editorWindowControllerWillClose(RCEditorWindowControl* editor) = 0;
};

}  // namespace pindle
