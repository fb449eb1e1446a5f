#pragma once

#include <QPointer>
#include <QWidget>

#include "editor/CropEditing.h"
#include "editor/RCEditorOptions.h"

class QLabel;
class QPushButton;

namespace pindle::ui {

class RCEditorPlayerView;

// The crop controls of the Options tab, small enough for a row of captions: "Draw" turns crop
// mode on ("Done" off) (the preview then shows the whole recording and the rectangle is drawn on
// it), "Free"/"Lock" frees or locks the rectangle's width-to-height ratio, "Reset" keeps the whole
// picture, and the numbers button opens a small sheet with the exact X, Y, W and H. Every change is
// written into the edit at once.
class RCCropControls : public QWidget {
    Q_OBJECT

public:
    RCCropControls(RCEditorOptionsModel& model, RCEditorPlayerView* playerView,
                   QWidget* parent = nullptr);
    ~RCCropControls() override;

    bool cropModeEnabled() const;
    void setCropModeEnabled(bool enabled);
    // The sheet with the exact numbers, window-modal over the editor.
    void openNumbersSheet();

signals:
    // The edit's crop changed (the information line follows it).
    void cropChanged();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    // Writes the rectangle being edited into the edit.
    void apply();
    void updateLabel();

    RCEditorOptionsModel& model_;
    QPointer<RCEditorPlayerView> playerView_;
    CropEditing editing_;
    QPushButton* modeButton_ = nullptr;
    QPushButton* aspectButton_ = nullptr;
    QPushButton* numbersButton_ = nullptr;
};

}  // namespace pindle::ui
