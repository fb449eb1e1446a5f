#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "library/RCRecording.h"

class QDialog;
class QWidget;

namespace pindle {

// What the editor needs of the application, handed over by whoever makes the editor. An
// empty function means "not available": not capturing, not signed in, format 0, nothing
// saved.
struct RCEditorEnvironment {
    std::function<bool()> isCapturing;
    std::function<bool()> isSignedIn;
    std::function<int64_t()> preferredSaveFormat;
    std::function<void(int64_t)> setPreferredSaveFormat;
    // Saves the library with the recording's edit parameters.
    std::function<void(const RCRecordingPtr&)> saveEdits;
    // Names of the notifications the editor follows: a capture starting and stopping (window
    // level), and the user's watermark changing (the preview's layers).
    std::string captureStartNotification;
    std::string captureStopNotification;
    std::string watermarkUpdateNotification;
    // The sign-in sheet and the upload sheet for a recording, made on the editor window
    // (parent) and not yet shown; null when not available.
    std::function<QDialog*(QWidget* parent)> makeSignInSheet;
    std::function<QDialog*(const RCRecordingPtr&, QWidget* parent)> makeUploadSheet;
};

}  // namespace pindle
