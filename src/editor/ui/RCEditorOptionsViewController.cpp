#include "editor/ui/RCEditorOptionsViewController.h"

#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "base/dispatch.h"
#include "editor/GIFExportCache.h"
#include "editor/IdleTrim.h"
#include "editor/RCBatchExport.h"
#include "editor/RCGIFFileSizeEstimator.h"
#include "editor/ui/GIFClipboard.h"
#include "editor/ui/RCCropControls.h"
#include "editor/ui/RCEditorPlayerView.h"
#include "editor/ui/RCRangeSliderView.h"
#include "library/RCFileManager.h"
#include "ui/Theme.h"

namespace pindle::ui {

// The save button: its title, a progress bar across it while saving, green once saved.
class RCSaveButtonView : public QPushButton {
public:
    RCSaveButtonView(const RCSaveButton& model, QWidget* parent)
        : QPushButton(parent), model_(model) {
        setObjectName("saveButton");
        setFixedHeight(40);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        bool saved = model_.state() == RCSaveButton::State::saved;
        QColor fill = saved ? theme::green() : theme::purple();
        if (model_.state() == RCSaveButton::State::saving) {
            fill = theme::raised();
        } else if (underMouse() && isEnabled()) {
            fill = fill.lighter(112);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(box, 5, 5);
        double bar = model_.progressBarWidth(box.width());
        if (bar > 0) {
            p.save();
            p.setClipRect(QRectF(box.left(), box.top(), bar, box.height()));
            p.setBrush(theme::purple());
            p.drawRoundedRect(box, 5, 5);
            p.restore();
        }
        QFont font = p.font();
        font.setBold(true);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 1);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, QString::fromStdString(model_.title()));
    }

private:
    const RCSaveButton& model_;
};

namespace {

// Dialogs attached to the editor are dark like it, so that the program's light label text
// stays readable on them.
const char* const kSheetStyle =
    "QFileDialog, QMessageBox { background: #262628; }"
    "QTreeView, QListView { background: #1c1c1e; color: #ececee; "
    "alternate-background-color: #222224; selection-background-color: #5b34a0; }"
    "QHeaderView::section { background: #2c2c2f; color: #a0a0a8; border: none; "
    "padding: 3px 6px; }"
    "QPushButton { color: #ececee; background: #3a3a3e; border: 1px solid #4a4a4f; "
    "border-radius: 4px; padding: 5px 14px; }"
    "QPushButton:hover { background: #46464b; }"
    "QPushButton:default { background: #5b34a0; border-color: #8e4df0; }";

QComboBox* makeMenu(const RCOptionMenu& menu, int selected, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(menu.key);
    for (const RCOptionMenuItem& item : menu.items) {
        box->addItem(item.label, QVariant::fromValue<qlonglong>(item.code));
    }
    box->setCurrentIndex(selected);
    // Keyboard focus stays with the window, where the space bar has its own meaning.
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

QLabel* captionLabel(const char* text) {
    auto* label = new QLabel(text);
    label->setObjectName("dimLabel");
    return label;
}

}  // namespace

RCEditorOptionsViewController::RCEditorOptionsViewController(RCRecordingPtr recording,
                                                             RCEditorPlayerView* playerView,
                                                             const RCEditorEnvironment& environment,
                                                             QWidget* parent)
    : QWidget(parent),
      recording_(std::move(recording)),
      playerView_(playerView),
      environment_(environment),
      model_(recording_,
             [this] {
                 if (environment_.saveEdits) {
                     environment_.saveEdits(recording_);
                 }
             }),
      generator_(RCGIFGenerator::initWithRecording(recording_)) {
    setObjectName("editorOptions");

    // Playback stays inside the trim from the start.
    MediaTime start = model_.trimmedStartTime();
    MediaTime end = model_.trimmedEndTime();
    if (playerView_) {
        playerView_->setLoopType(model_.selectedLoopType());
        playerView_->seekExactly(start);
        playerView_->setPlaybackRange(start, end);
    }

    slider_ = new RCRangeSliderView(model_.slider(), this);
    slider_->setObjectName("trimSlider");
    model_.slider().setPlaybackMarker(model_.slider().lowerValue());
    connect(slider_, &RCRangeSliderView::sliderChanged, this,
            &RCEditorOptionsViewController::trimSliderChanged);

    loopTypeMenu_ = makeMenu(loopTypeMenu(), model_.loopTypeIndex(), this);
    resizeMenu_ = makeMenu(resizeMenu(), model_.resizeIndex(), this);
    frameRateMenu_ = makeMenu(frameRateMenu(), model_.frameRateIndex(), this);
    for (QComboBox* menu : {loopTypeMenu_, resizeMenu_, frameRateMenu_}) {
        connect(menu, &QComboBox::activated, this, &RCEditorOptionsViewController::menuChosen);
    }

    // Speed is how fast the pictures play, the frame rate how many are shown each second:
    // the two sit apart, and the speed says so.
    speedMenu_ = new QComboBox(this);
    speedMenu_->setObjectName("playbackSpeed");
    for (const std::string& label : playbackSpeedMenuLabels()) {
        speedMenu_->addItem(QString::fromStdString(label));
    }
    speedMenu_->setCurrentIndex(model_.playbackSpeedIndex());
    speedMenu_->setFocusPolicy(Qt::NoFocus);
    speedMenu_->setToolTip("How fast the clip plays. The frame rate stays as chosen.");
    connect(speedMenu_, &QComboBox::activated, this, &RCEditorOptionsViewController::speedChosen);
    if (playerView_) {
        playerView_->setPlaybackSpeed(model_.selectedPlaybackSpeed());
    }

    idleTrimButton_ = new QPushButton("Trim idle start and end");
    idleTrimButton_->setObjectName("idleTrimButton");
    idleTrimButton_->setFocusPolicy(Qt::NoFocus);
    idleTrimButton_->setCursor(Qt::PointingHandCursor);
    idleTrimButton_->setFlat(true);
    idleTrimButton_->setToolTip(
        "Moves the trim past the still picture at the start and the end; shown before it is "
        "applied.");
    connect(idleTrimButton_, &QPushButton::clicked, this,
            &RCEditorOptionsViewController::proposeIdleTrim);
    idleTrimProposal_ = new QWidget(this);
    idleTrimProposal_->setObjectName("idleTrimProposal");
    idleTrimLabel_ = new QLabel;
    idleTrimLabel_->setObjectName("idleTrimLabel");
    auto* applyTrim = new QPushButton("Apply");
    applyTrim->setObjectName("idleTrimApply");
    auto* cancelTrim = new QPushButton("Cancel");
    cancelTrim->setObjectName("idleTrimCancel");
    for (QPushButton* button : {applyTrim, cancelTrim}) {
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(applyTrim, &QPushButton::clicked, this, [this] { finishIdleTrim(true); });
    connect(cancelTrim, &QPushButton::clicked, this, [this] { finishIdleTrim(false); });
    auto* proposalRow = new QHBoxLayout(idleTrimProposal_);
    proposalRow->setContentsMargins(0, 0, 0, 0);
    proposalRow->addWidget(idleTrimLabel_, 1);
    proposalRow->addWidget(applyTrim);
    proposalRow->addWidget(cancelTrim);
    idleTrimProposal_->hide();

    durationLabel_ = new QLabel;
    dimensionsLabel_ = new QLabel;
    frameRateLabel_ = new QLabel;
    frameCountLabel_ = new QLabel;
    durationLabel_->setObjectName("durationLabel");
    dimensionsLabel_->setObjectName("dimensionsLabel");
    frameRateLabel_->setObjectName("frameRateLabel");
    frameCountLabel_->setObjectName("frameCountLabel");
    sizeButton_ = new QPushButton(RCSizeButton::kCalculateTitle);
    sizeButton_->setObjectName("sizeButton");
    sizeButton_->setFocusPolicy(Qt::NoFocus);
    sizeButton_->setCursor(Qt::PointingHandCursor);
    sizeButton_->setFlat(true);
    connect(sizeButton_, &QPushButton::clicked, this,
            &RCEditorOptionsViewController::updateFileSize);

    saveButton_ = new RCSaveButtonView(saveButtonModel_, this);
    connect(saveButton_, &QPushButton::clicked, this, [this] {
        if (saveButtonModel_.state() == RCSaveButton::State::idle && !sheetIsShown()) {
            openSavePanel();
        }
    });
    uploadButton_ = new QPushButton("UPLOAD");
    uploadButton_->setObjectName("uploadButton");
    uploadButton_->setFixedHeight(40);
    uploadButton_->setFocusPolicy(Qt::NoFocus);
    uploadButton_->setCursor(Qt::PointingHandCursor);
    connect(uploadButton_, &QPushButton::clicked, this,
            &RCEditorOptionsViewController::uploadButtonClicked);
    copyButton_ = new QPushButton("COPY GIF");
    copyButton_->setObjectName("copyGIFButton");
    copyButton_->setFixedHeight(40);
    copyButton_->setFocusPolicy(Qt::NoFocus);
    copyButton_->setCursor(Qt::PointingHandCursor);
    copyButton_->setToolTip("Copies the GIF with the current edits, captions and watermark.");
    connect(copyButton_, &QPushButton::clicked, this, &RCEditorOptionsViewController::copyGIF);
    savedTimer_ = new QTimer(this);
    savedTimer_->setSingleShot(true);
    savedTimer_->setInterval(std::chrono::milliseconds(RCSaveButton::kSavedDisplayTime));
    connect(savedTimer_, &QTimer::timeout, this, [this] {
        saveButtonModel_.reset();
        saveButtonChanged();
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 14);
    layout->setSpacing(10);
    // The crop sits on the trim's caption row, as high as the caption, so the tab keeps its
    // height.
    cropControls_ = new RCCropControls(model_, playerView_, this);
    connect(cropControls_, &RCCropControls::cropChanged, this,
            &RCEditorOptionsViewController::updateFileStatsLabels);
    QLabel* trimLabel = captionLabel("Trim");
    cropControls_->setFixedHeight(trimLabel->sizeHint().height());
    auto* captionRow = new QHBoxLayout;
    captionRow->setSpacing(6);
    captionRow->addWidget(trimLabel);
    captionRow->addStretch(1);
    captionRow->addWidget(captionLabel("Crop"));
    captionRow->addWidget(cropControls_);
    layout->addLayout(captionRow);
    layout->addWidget(slider_);
    layout->addWidget(idleTrimProposal_);
    auto* menus = new QGridLayout;
    menus->setHorizontalSpacing(12);
    menus->setVerticalSpacing(4);
    menus->addWidget(captionLabel("Loop"), 0, 0);
    menus->addWidget(captionLabel("Size"), 0, 1);
    menus->addWidget(captionLabel("Frame rate"), 0, 2);
    menus->addWidget(loopTypeMenu_, 1, 0);
    menus->addWidget(resizeMenu_, 1, 1);
    menus->addWidget(frameRateMenu_, 1, 2);
    // The speed stands apart from the frame rate, behind a rule, under a name of its own.
    auto* rule = new QFrame;
    rule->setObjectName("speedRule");
    rule->setFrameShape(QFrame::VLine);
    rule->setFixedWidth(1);
    rule->setStyleSheet("background: #4a4a4f;");
    menus->addWidget(rule, 0, 3, 2, 1);
    menus->addWidget(captionLabel("Playback speed"), 0, 4);
    menus->addWidget(speedMenu_, 1, 4);
    for (int column : {0, 1, 2}) {
        menus->setColumnStretch(column, 1);
    }
    layout->addLayout(menus);
    auto* info = new QHBoxLayout;
    info->setSpacing(14);
    for (QLabel* label : {durationLabel_, dimensionsLabel_, frameRateLabel_, frameCountLabel_}) {
        info->addWidget(label);
    }
    info->addStretch(1);
    info->addWidget(idleTrimButton_);
    info->addWidget(sizeButton_);
    layout->addLayout(info);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(saveButton_, 3);
    buttons->addWidget(copyButton_, 1);
    buttons->addWidget(uploadButton_, 1);
    layout->addLayout(buttons);

    // The playback marker follows the player while it plays.
    if (playerView_) {
        playbackObserver_ =
            playerView_->addPeriodicTimeObserver(MediaTime::make(1, 1000), [this](MediaTime time) {
                if (playerView_ && playerView_->isPlaying()) {
                    model_.setPlaybackTime(time);
                    slider_->update();
                }
            });
    }

    // Dragging the preview out drags the GIF of the current edit, made in the background
    // and kept for the next drag or copy of the same edit.
    GIFExportCache::Hooks hooks;
    hooks.makeTempFile = [] {
        return RCFileManager::getCurrentInstance().makeTempFileWithExtension("gif");
    };
    hooks.exportGIF = [this](const std::filesystem::path& gif, GIFExportCache::Progress progress,
                             std::function<void(Status)> done) {
        generator_->makeGIF(gif, model_.exportOptions(SaveFormat::gif), std::move(progress),
                            std::move(done));
    };
    hooks.deleteFile = [](const std::filesystem::path& file) {
        RCFileManager::getCurrentInstance().deleteFile(file);
    };
    gifCache_ = std::make_unique<GIFExportCache>(std::move(hooks));
    if (playerView_) {
        playerView_->setDragOutCache(gifCache_.get());
    }

    updateFileStatsLabels();
}

RCEditorOptionsViewController::~RCEditorOptionsViewController() {
    stopObservingPlayback();
    if (playerView_) {
        playerView_->setDragOutCache(nullptr);
    }
}

void RCEditorOptionsViewController::stopObservingPlayback() {
    if (playerView_ && playbackObserver_) {
        playerView_->removeTimeObserver(playbackObserver_);
    }
    playbackObserver_ = 0;
}

void RCEditorOptionsViewController::trimSliderChanged(RCRangeSlider::Part part, bool mouseDown) {
    if (!playerView_) {
        return;
    }
    if (mouseDown) {
        if (playerView_->isPlaying()) {
            playerView_->pause();
        }
        if (part == RCRangeSlider::Part::lowerKnob) {
            playerView_->seekExactly(model_.trimmedStartTime());
            model_.slider().setPlaybackMarker(model_.slider().lowerValue());
        } else if (part == RCRangeSlider::Part::upperKnob) {
            playerView_->seekExactly(model_.trimmedEndTime());
            model_.slider().setPlaybackMarker(model_.slider().upperValue());
        }
        return;
    }
    MediaTime start = model_.trimmedStartTime();
    playerView_->setPlaybackRange(start, model_.trimmedEndTime());
    playerView_->seekExactly(start);
    playerView_->play();
    model_.slider().setPlaybackMarker(model_.slider().lowerValue());
    slider_->update();
    model_.trimChanged();
    updateFileStatsLabels();
}

void RCEditorOptionsViewController::menuChosen() {
    QObject* menu = sender();
    if (menu == loopTypeMenu_) {
        model_.selectLoopTypeIndex(loopTypeMenu_->currentIndex());
        if (playerView_) {
            playerView_->setLoopType(model_.selectedLoopType());
        }
    } else if (menu == resizeMenu_) {
        model_.selectResizeIndex(resizeMenu_->currentIndex());
    } else if (menu == frameRateMenu_) {
        model_.selectFrameRateIndex(frameRateMenu_->currentIndex());
    }
    updateFileStatsLabels();
}

void RCEditorOptionsViewController::updateFileStatsLabels() {
    RCEditorInfoLine line = editorInfoLine(*recording_);
    durationLabel_->setText(QString::fromStdString(line.duration));
    dimensionsLabel_->setText(QString::fromStdString(line.dimensions));
    frameRateLabel_->setText(QString::fromStdString(line.frameRate));
    frameCountLabel_->setText(QString::fromStdString(line.frameCount) + " frames");
    sizeButtonModel_.invalidate();
    sizeButton_->setText(QString::fromStdString(sizeButtonModel_.title()));
}

void RCEditorOptionsViewController::updateFileSize() {
    auto& estimator = RCGIFFileSizeEstimator::defaultInstance();
    if (!sizeButtonModel_.beginEstimate(estimator.isCalculating())) {
        return;
    }
    sizeButton_->setText(QString::fromStdString(sizeButtonModel_.title()));
    QPointer<RCEditorOptionsViewController> self(this);
    uint64_t edit = sizeButtonModel_.edit();
    estimator.estimateFileSize(recording_, [self, edit](int64_t bytes) {
        dispatch::mainQueue()->async([self, bytes, edit] {
            if (self) {
                self->sizeButtonModel_.finishEstimate(bytes, edit);
                self->sizeButton_->setText(QString::fromStdString(self->sizeButtonModel_.title()));
            }
        });
    });
}

void RCEditorOptionsViewController::copyGIF() {
    if (!copyButton_->isEnabled()) {
        return;
    }
    copyButton_->setEnabled(false);
    copyButton_->setText("COPYING...");
    // The file stays in the temporary folder until the program quits, so that a paste of
    // the file later still finds it.
    QPointer<RCEditorOptionsViewController> self(this);
    gifCache_->request(GIFEditState::of(recording_->editParameters().get()), nullptr,
                       [self](const std::filesystem::path& gif) {
                           if (!self) {
                               return;
                           }
                           QMimeData* mime = gif.empty() ? nullptr : makeGIFMimeData(gif);
                           if (mime != nullptr) {
                               QGuiApplication::clipboard()->setMimeData(mime);
                           }
                           self->copyButton_->setText(mime != nullptr ? "COPIED" : "NOT COPIED");
                           QTimer::singleShot(std::chrono::seconds(2), self, [self] {
                               if (self) {
                                   self->copyButton_->setText("COPY GIF");
                                   self->copyButton_->setEnabled(true);
                               }
                           });
                       });
}

void RCEditorOptionsViewController::speedChosen(int index) {
    model_.selectPlaybackSpeedIndex(index);
    if (playerView_) {
        playerView_->setPlaybackSpeed(model_.selectedPlaybackSpeed());
    }
    updateFileStatsLabels();
}

void RCEditorOptionsViewController::proposeIdleTrim() {
    media::MoviePtr movie = recording_->asset();
    if (!movie || idleTrimProposal_->isVisible()) {
        return;
    }
    idleTrimButton_->setEnabled(false);
    idleTrimButton_->setText("Looking for idle time...");
    QPointer<RCEditorOptionsViewController> self(this);
    MediaTime start = model_.trimmedStartTime();
    MediaTime end = model_.trimmedEndTime();
    auto crop = model_.cropRect();
    dispatch::globalQueue(dispatch::Priority::UserInitiated)
        ->async([self, movie, start, end, crop] {
            auto found = idle_trim::findActiveRange(*movie, start, end, crop);
            dispatch::mainQueue()->async([self, found] {
                if (!self) {
                    return;
                }
                self->idleTrimButton_->setEnabled(true);
                self->idleTrimButton_->setText("Trim idle start and end");
                if (!found || !*found) {
                    self->idleTrimLabel_->setText(!found ? "The movie could not be read."
                                                         : "The picture never changes.");
                    self->knobsBeforeProposal_[0] = self->model_.slider().lowerValue();
                    self->knobsBeforeProposal_[1] = self->model_.slider().upperValue();
                    self->idleTrimProposal_->show();
                    return;
                }
                auto& slider = self->model_.slider();
                self->knobsBeforeProposal_[0] = slider.lowerValue();
                self->knobsBeforeProposal_[1] = slider.upperValue();
                double cut = (self->model_.trimmedEndTime() - self->model_.trimmedStartTime() -
                              ((*found)->end - (*found)->start))
                                 .seconds();
                // The knobs show the proposal; the edit changes only when it is applied.
                self->model_.setTrimmedStartTime((*found)->start);
                self->model_.setTrimmedEndTime((*found)->end);
                slider.setPlaybackMarker(slider.lowerValue());
                self->slider_->update();
                self->idleTrimLabel_->setText(
                    QString("Trim to %1 s \u2013 %2 s, cutting %3 s of still picture?")
                        .arg((*found)->start.seconds(), 0, 'f', 1)
                        .arg((*found)->end.seconds(), 0, 'f', 1)
                        .arg(std::max(0.0, cut), 0, 'f', 1));
                self->idleTrimProposal_->show();
                self->slider_->setEnabled(false);
                if (self->playerView_) {
                    self->playerView_->pause();
                    self->playerView_->seekExactly(self->model_.trimmedStartTime());
                }
            });
        });
}

void RCEditorOptionsViewController::finishIdleTrim(bool apply) {
    idleTrimProposal_->hide();
    slider_->setEnabled(true);
    if (!apply) {
        model_.slider().setLowerValue(knobsBeforeProposal_[0]);
        model_.slider().setUpperValue(knobsBeforeProposal_[1]);
    }
    MediaTime start = model_.trimmedStartTime();
    if (playerView_) {
        playerView_->setPlaybackRange(start, model_.trimmedEndTime());
        playerView_->seekExactly(start);
        playerView_->play();
    }
    model_.slider().setPlaybackMarker(model_.slider().lowerValue());
    slider_->update();
    if (apply) {
        model_.trimChanged();
        updateFileStatsLabels();
    }
}

bool RCEditorOptionsViewController::sheetIsShown() const {
    return savePanel_ || sheet_;
}

void RCEditorOptionsViewController::showSheet(QDialog* sheet) {
    sheet_ = sheet;
    if (qobject_cast<QMessageBox*>(sheet)) {
        sheet->setStyleSheet(kSheetStyle);
    }
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    connect(sheet, &QDialog::finished, this, [this] {
        sheet_ = nullptr;
        emit sheetShown(sheetIsShown());
    });
    emit sheetShown(true);
    sheet->open();
}

void RCEditorOptionsViewController::uploadButtonClicked() {
    if (sheetIsShown()) {
        return;
    }
    bool signedIn = environment_.isSignedIn && environment_.isSignedIn();
    RCUploadCheck check = checkUpload(*recording_, signedIn);
    if (check == RCUploadCheck::tooLongGIF || check == RCUploadCheck::tooLongClip) {
        RCAlertText text = uploadRefusalText(check);
        auto* box =
            new QMessageBox(QMessageBox::Warning, "Upload", QString::fromStdString(text.message),
                            QMessageBox::Ok, window());
        box->setInformativeText(QString::fromStdString(text.informativeText));
        showSheet(box);
        return;
    }
    QDialog* sheet = nullptr;
    if (check == RCUploadCheck::needsSignIn) {
        sheet = environment_.makeSignInSheet ? environment_.makeSignInSheet(window()) : nullptr;
    } else if (environment_.makeUploadSheet) {
        sheet = environment_.makeUploadSheet(recording_, window());
    }
    if (sheet) {
        showSheet(sheet);
    }
}

void RCEditorOptionsViewController::openSavePanel() {
    int64_t preferred = environment_.preferredSaveFormat ? environment_.preferredSaveFormat() : 0;
    RCSavePanelFileTypeView formats(preferred);
    auto* panel = new QFileDialog(window(), "Save");
    panel->setObjectName("savePanel");
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog, so that the format chooser is always the dialog's file type list.
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setStyleSheet(kSheetStyle);
    QStringList filters;
    for (const std::string& item : RCSavePanelFileTypeView::menuItems()) {
        filters << QString::fromStdString(item);
    }
    panel->setNameFilters(filters);
    auto applyFormat = [panel](int index) {
        RCSavePanelFileTypeView view(0);
        view.selectIndex(index);
        panel->setDefaultSuffix(QString::fromStdString(view.allowedFileType()));
    };
    panel->selectNameFilter(filters[formats.selectedIndex()]);
    applyFormat(formats.selectedIndex());
    connect(panel, &QFileDialog::filterSelected, panel,
            [applyFormat, filters](const QString& filter) {
                applyFormat(int(filters.indexOf(filter)));
            });
    panel->selectFile(QString::fromStdString(proposedSaveName(std::chrono::system_clock::now())));
    panel->setWindowModality(Qt::WindowModal);
    savePanel_ = panel;
    connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
        savePanel_ = nullptr;
        QStringList files = panel->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty()) {
            savePanelFinished(files.front(),
                              saveFormatForMenuItem(panel->selectedNameFilter().toStdString()));
        }
        emit sheetShown(sheetIsShown());
    });
    emit sheetShown(true);
    panel->open();
}

void RCEditorOptionsViewController::savePanelFinished(const QString& file, SaveFormat listed) {
    std::filesystem::path chosen = file.toStdString();
    SaveFormat format = saveFormatForChosenPath(chosen, listed);
    std::filesystem::path path = savePathForFormat(chosen, format);
    saveButtonModel_.beginSaving();
    saveButtonChanged();
    if (environment_.setPreferredSaveFormat) {
        environment_.setPreferredSaveFormat(int64_t(format));
    }
    if (format != SaveFormat::gif ||
        !needsLargeGIFWarning(RCGIFFileSizeEstimator::quickEstimateFileSize(*recording_))) {
        exportTo(path, format);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, "Save",
                                QString::fromStdString(kLargeGIFWarning.message),
                                QMessageBox::NoButton, window());
    box->setObjectName("largeFileWarning");
    box->setInformativeText(QString::fromStdString(kLargeGIFWarning.informativeText));
    QPushButton* asGIF = box->addButton("Save as GIF", QMessageBox::AcceptRole);
    QPushButton* asMP4 = box->addButton("Save as MP4", QMessageBox::ActionRole);
    QPushButton* cancel = box->addButton("Cancel", QMessageBox::RejectRole);
    box->setDefaultButton(asGIF);
    box->setEscapeButton(cancel);
    connect(box, &QMessageBox::finished, this, [this, box, asGIF, asMP4, path] {
        QAbstractButton* answer = box->clickedButton();
        if (answer == asGIF) {
            exportTo(path, SaveFormat::gif);
            return;
        }
        saveButtonModel_.reset();
        saveButtonChanged();
        if (answer == asMP4) {
            if (environment_.setPreferredSaveFormat) {
                environment_.setPreferredSaveFormat(int64_t(SaveFormat::mp4));
            }
            QTimer::singleShot(0, this, &RCEditorOptionsViewController::openSavePanel);
        }
    });
    showSheet(box);
}

void RCEditorOptionsViewController::exportTo(const std::filesystem::path& path, SaveFormat format) {
    QPointer<RCEditorOptionsViewController> self(this);
    auto progress = [self](float fraction) {
        if (self) {
            self->saveButtonModel_.setProgress(fraction);
            self->saveButtonChanged();
        }
    };
    auto completion = [self](Status status) {
        if (!self) {
            return;
        }
        if (!status) {
            // The user hears why nothing was written rather than seeing "SAVED".
            self->saveButtonModel_.reset();
            self->saveButtonChanged();
            auto* box =
                new QMessageBox(QMessageBox::Warning, "Save", "The file could not be saved.",
                                QMessageBox::Ok, self->window());
            box->setInformativeText(QString::fromStdString(status.error().message));
            self->showSheet(box);
            return;
        }
        {
            self->saveButtonModel_.finishSaving();
            self->saveButtonChanged();
            self->savedTimer_->start();
        }
    };
    RCExportOptions options = model_.exportOptions(format);
    switch (format) {
        case SaveFormat::gif:
            generator_->makeGIF(path, options, progress, completion);
            break;
        case SaveFormat::mp4:
            generator_->makeVideo(path, options, progress, completion);
            break;
        case SaveFormat::batch:
            exportBatch(generator_, path, options, progress, completion);
            break;
    }
}

void RCEditorOptionsViewController::saveButtonChanged() {
    saveButton_->update();
}

void RCEditorOptionsViewController::prepareForClose() {
    stopObservingPlayback();
    if (playerView_) {
        playerView_->pause();
        playerView_->stop();
    }
    if (savePanel_) {
        savePanel_->reject();
    }
    if (sheet_) {
        sheet_->close();
    }
    // A GIF being made for a drag or a copy is not wanted any more: its file goes when
    // the export ends, and a made one nobody took goes now.
    gifCache_->invalidate();
    model_.updateEditParameters();
}

void RCEditorOptionsViewController::watermarkChanged() {
    gifCache_->invalidate();
}

}  // namespace pindle::ui
