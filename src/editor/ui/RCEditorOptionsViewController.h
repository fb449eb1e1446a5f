#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

#include "editor/RCEditorEnvironment.h"
#include "editor/RCEditorOptions.h"
#include "editor/RCGIFGenerator.h"

class QComboBox;
class QDialog;
class QFileDialog;
class QLabel;
class QMessageBox;
class QPushButton;
class QTimer;

namespace pindle {
class GIFExportCache;
}  // namespace pindle

namespace pindle::ui {

class RCCropControls;
class RCEditorPlayerView;
class RCRangeSliderView;
class RCSaveButtonView;

// The Options tab: trim slider, loop type, size and frame rate menus, the crop, the
// information line with the size estimate, and the save and upload buttons.
class RCEditorOptionsViewController : public QWidget {
    Q_OBJECT

public:
    RCEditorOptionsViewController(RCRecordingPtr recording, RCEditorPlayerView* playerView,
                                  const RCEditorEnvironment& environment,
                                  QWidget* parent = nullptr);
    ~RCEditorOptionsViewController() override;

    RCEditorOptionsModel& model() { return model_; }
    // Stops playback, closes the save dialog and any sheet, and saves the edit.
    void prepareForClose();

    void openSavePanel();
    void updateFileSize();
    void uploadButtonClicked();
    // Exports the GIF of the current edit into the temporary folder (or takes the one a drag
    // made of it) and puts it on the clipboard, as image/gif bytes and as the file.
    void copyGIF();
    // The watermark changed: a GIF made before shows the old one.
    void watermarkChanged();

signals:
    // A sheet (dialog or alert) is attached to the window, or no longer is.
    void sheetShown(bool shown);

private:
    void trimSliderChanged(RCRangeSlider::Part part, bool mouseDown);
    void menuChosen();
    void updateFileStatsLabels();
    void savePanelFinished(const QString& file, SaveFormat format);
    void exportTo(const std::filesystem::path& path, SaveFormat format);
    void showSheet(QDialog* sheet);
    bool sheetIsShown() const;
    void saveButtonChanged();
    void stopObservingPlayback();
    void speedChosen(int index);
    // Finds the idle start and end in the background and shows the proposed trim.
    void proposeIdleTrim();
    // Applies the proposed trim, or puts the knobs back where they were.
    void finishIdleTrim(bool apply);

    RCRecordingPtr recording_;
    QPointer<RCEditorPlayerView> playerView_;
    const RCEditorEnvironment& environment_;
    RCEditorOptionsModel model_;
    std::shared_ptr<RCGIFGenerator> generator_;
    // The GIF of the edit for dragging out and copying.
    std::unique_ptr<GIFExportCache> gifCache_;
    RCSizeButton sizeButtonModel_;
    RCSaveButton saveButtonModel_;

    RCRangeSliderView* slider_ = nullptr;
    QComboBox* loopTypeMenu_ = nullptr;
    QComboBox* resizeMenu_ = nullptr;
    QComboBox* frameRateMenu_ = nullptr;
    QComboBox* speedMenu_ = nullptr;
    RCCropControls* cropControls_ = nullptr;
    QPushButton* idleTrimButton_ = nullptr;
    QWidget* idleTrimProposal_ = nullptr;
    QLabel* idleTrimLabel_ = nullptr;
    // The knobs before a proposed idle trim moved them.
    double knobsBeforeProposal_[2] = {0, 1};
    QLabel* durationLabel_ = nullptr;
    QLabel* dimensionsLabel_ = nullptr;
    QLabel* frameRateLabel_ = nullptr;
    QLabel* frameCountLabel_ = nullptr;
    QPushButton* sizeButton_ = nullptr;
    RCSaveButtonView* saveButton_ = nullptr;
    QPushButton* uploadButton_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    int playbackObserver_ = 0;  // the player view's token
    QTimer* savedTimer_ = nullptr;
    QPointer<QFileDialog> savePanel_;
    QPointer<QDialog> sheet_;
};

}  // namespace pindle::ui
