#pragma once

#include <QWidget>

#include "editor/RCEditorWindowControl.h"

class QLabel;

namespace pindle::ui {

// The editor window of one recording. For now it shows the recording's first frame and its
// facts; the library opens, raises and closes it through RCEditorWindowControl.
class RCEditorWindowController : public QWidget, public RCEditorWindowControl {
    Q_OBJECT

public:
    RCEditorWindowController(RCRecordingPtr recording, RCEditorWindowDelegate& delegate);

    RCRecordingPtr recording() const override { return recording_; }
    Rect windowFrame() const override;
    void setWindowFrame(const Rect& frame) override;
    void showWindow() override;
    void bringToFront() override;
    void close() override;

    // "3.2 s · 640 × 320 · 60 fps · 192 frames"
    static QString factsText(const RCRecording& recording);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    RCRecordingPtr recording_;
    RCEditorWindowDelegate& delegate_;
    bool closing_ = false;
};

}  // namespace pindle::ui
