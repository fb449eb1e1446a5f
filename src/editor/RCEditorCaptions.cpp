#include "editor/RCEditorCaptions.h"

#include <algorithm>

#include "editor/RCLoopingAVPlayer.h"
#include "editor/RCRecordingLayers.h"

namespace pindle {

namespace {

// The animation's duration as a media time of nanoseconds.
MediaTime animationDuration(const RCTimedCaption& caption) {
    return MediaTime::makeWithSeconds(caption.animation ? caption.animation->duration : 0,
                                      1'000'000'000);
}

double fractionOf(MediaTime time, MediaTime duration) {
    double seconds = duration.seconds();
    return seconds > 0 ? time.seconds() / seconds : 0;
}

}  // namespace

std::shared_ptr<RCTimedCaption> makeNewCaption(const RCRecording& recording) {
    auto caption = std::make_shared<RCTimedCaption>();
    Size dimensions = recording.dimensions();
    caption->videoDimensions = dimensions;
    caption->videoDuration = recording.duration();
    caption->text = kNewCaptionText;
    if (auto parameters = recording.editParameters()) {
        caption->startTime = parameters->trimmedStartTime();
        caption->endTime = parameters->trimmedEndTime();
    }
    caption->setCenterPosition(Point{dimensions.width * 0.5, dimensions.height * 0.5});
    return caption;
}

std::string captionTextPreview(const std::string& text) {
    size_t characters = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        // A UTF-8 character starts at every byte that is not a continuation byte.
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 &&
            characters++ == kCaptionPreviewLength) {
            return text.substr(0, at) + "...";
        }
    }
    return text;
}

const std::vector<RCPaletteColor>& captionPalette() {
    static const std::vector<RCPaletteColor> colors{
        {"white", Color{1, 1, 1, 1}},       {"yellow", Color{1.0, 243.0 / 255, 92.0 / 255, 1}},
        {"green", Color{0.0, 1.0, 0.6, 1}}, {"red", Color{1.0, 0.4, 0.4, 1}},
        {"blue", Color{0.0, 0.8, 1.0, 1}},  {"purple", Color{0.6, 0.2, 1.0, 1}},
    };
    return colors;
}

const std::vector<RCCaptionSizeItem>& captionSizeItems() {
    static const std::vector<RCCaptionSizeItem> items{{"XS", CaptionSize::XS},
                                                      {"SM", CaptionSize::SM},
                                                      {"MD", CaptionSize::MD},
                                                      {"LG", CaptionSize::LG},
                                                      {"XL", CaptionSize::XL}};
    return items;
}

const std::vector<RCCaptionFontItem>& captionFontItems() {
    static const std::vector<RCCaptionFontItem> items{{"Default", kCaptionFontDefault},
                                                      {"Italicized", kCaptionFontItalicized}};
    return items;
}

bool RCLoopingPlayerPlayback::isPlaying() const {
    return player_.isPlaying();
}

MediaTime RCLoopingPlayerPlayback::currentTime() const {
    return player_.currentTime();
}

void RCLoopingPlayerPlayback::pause() {
    if (player_.rate() != 0) {
        lastRate_ = player_.rate();
    }
    player_.pause();
}

void RCLoopingPlayerPlayback::resume() {
    double rate = lastRate_ != 0 ? lastRate_ : player_.loopType() == 1 ? -1.0 : 1.0;
    player_.setRate(rate);
}

void RCLoopingPlayerPlayback::seekExactly(MediaTime time) {
    player_.seekToTime(time, MediaTime::zero(), MediaTime::zero());
}

RCEditorCaptionsModel::RCEditorCaptionsModel(RCRecordingPtr recording, RCCaptionsPlayback* player,
                                             std::function<void()> editsChanged,
                                             RCCaptionsTabEvents events)
    : recording_(std::move(recording)),
      player_(player),
      editsChanged_(std::move(editsChanged)),
      events_(std::move(events)) {
    // Selection lives only in memory: a caption left selected by an earlier editor is not
    // the active one of this one.
    clearSelection();
}

CaptionList* RCEditorCaptionsModel::mutableCaptions() const {
    auto parameters = recording_->editParameters();
    return parameters ? &parameters->captions() : nullptr;
}

const CaptionList& RCEditorCaptionsModel::captions() const {
    static const CaptionList none;
    const CaptionList* list = mutableCaptions();
    return list ? *list : none;
}

std::shared_ptr<RCTimedCaption> RCEditorCaptionsModel::activeCaption() const {
    const CaptionList& list = captions();
    return activeIndex_ >= 0 && size_t(activeIndex_) < list.size() ? list[size_t(activeIndex_)]
                                                                   : nullptr;
}

std::string RCEditorCaptionsModel::rowText(int row) const {
    const CaptionList& list = captions();
    return row >= 0 && size_t(row) < list.size() ? captionTextPreview(list[size_t(row)]->text)
                                                 : std::string();
}

double RCEditorCaptionsModel::rowLowerValue(int row) const {
    const CaptionList& list = captions();
    return row >= 0 && size_t(row) < list.size()
               ? fractionOf(list[size_t(row)]->startTime, duration())
               : 0;
}

double RCEditorCaptionsModel::rowUpperValue(int row) const {
    const CaptionList& list = captions();
    return row >= 0 && size_t(row) < list.size()
               ? fractionOf(list[size_t(row)]->endTime, duration())
               : 0;
}

double RCEditorCaptionsModel::trimStartFraction() const {
    auto parameters = recording_->editParameters();
    return parameters ? fractionOf(parameters->trimmedStartTime(), duration()) : 0;
}

double RCEditorCaptionsModel::trimEndFraction() const {
    auto parameters = recording_->editParameters();
    return parameters ? fractionOf(parameters->trimmedEndTime(), duration()) : 1;
}

void RCEditorCaptionsModel::clearSelection() {
    for (const auto& caption : captions()) {
        caption->setSelected(false);
    }
}

void RCEditorCaptionsModel::applyActiveIndex(int index) {
    const CaptionList& list = captions();
    if (activeIndex_ >= 0 && size_t(activeIndex_) < list.size()) {
        list[size_t(activeIndex_)]->setSelected(false);
    }
    activeIndex_ = index >= 0 && size_t(index) < list.size() ? index : -1;
    if (activeIndex_ >= 0) {
        list[size_t(activeIndex_)]->setSelected(true);
    }
    reload();
}

void RCEditorCaptionsModel::reload() {
    if (events_.reload) {
        events_.reload();
    }
}

void RCEditorCaptionsModel::changed() {
    reload();
    if (editsChanged_) {
        editsChanged_();
    }
}

void RCEditorCaptionsModel::showStyleWindow(bool makeKey) {
    styleWindowVisible_ = true;
    if (events_.showStyleWindow) {
        events_.showStyleWindow(makeKey);
    }
}

void RCEditorCaptionsModel::closeStyleWindow() {
    if (!styleWindowVisible_) {
        return;
    }
    styleWindowVisible_ = false;
    if (events_.closeStyleWindow) {
        events_.closeStyleWindow();
    }
}

void RCEditorCaptionsModel::addCaption() {
    CaptionList* list = mutableCaptions();
    if (!list) {
        return;
    }
    auto caption = makeNewCaption(*recording_);
    if (player_ && !player_->isPlaying()) {
        // Fully shown on the frame the user is looking at.
        caption->startTime = player_->currentTime() - animationDuration(*caption);
    }
    list->push_back(caption);
    if (list->size() == 1) {
        showStyleWindow(false);
    }
    clearSelection();
    activeIndex_ = -1;
    applyActiveIndex(int(list->size()) - 1);
    if (events_.scrollToRow) {
        events_.scrollToRow(activeIndex_);
    }
    changed();
}

void RCEditorCaptionsModel::deleteCaption(int row) {
    CaptionList* list = mutableCaptions();
    if (!list || row != activeIndex_ || activeIndex_ < 0) {
        return;
    }
    list->erase(list->begin() + activeIndex_);
    int count = int(list->size());
    int index = activeIndex_ < count ? activeIndex_ : count - 1;
    clearSelection();
    activeIndex_ = -1;
    applyActiveIndex(index);
    if (list->empty()) {
        closeStyleWindow();
    }
    changed();
}

void RCEditorCaptionsModel::selectRow(int row) {
    if (row < 0 || row >= numberOfRows() || row == activeIndex_) {
        return;
    }
    applyActiveIndex(row);
    showStyleWindow(true);
}

bool RCEditorCaptionsModel::validateDrop(int fromRow, int dropRow, bool dropAbove) const {
    int count = numberOfRows();
    return dropAbove && fromRow >= 0 && fromRow < count && dropRow >= 0 && dropRow <= count;
}

bool RCEditorCaptionsModel::moveCaption(int fromRow, int dropRow) {
    CaptionList* list = mutableCaptions();
    if (!list || !validateDrop(fromRow, dropRow, true)) {
        return false;
    }
    auto moved = (*list)[size_t(fromRow)];
    list->erase(list->begin() + fromRow);
    int to = fromRow < dropRow ? dropRow - 1 : dropRow;
    list->insert(list->begin() + to, moved);
    clearSelection();
    activeIndex_ = -1;
    applyActiveIndex(to);
    changed();
    return true;
}

void RCEditorCaptionsModel::rowRangeChanged(int row, double lower, double upper,
                                            RCRangeSlider::Part part) {
    const CaptionList& list = captions();
    if (row < 0 || size_t(row) >= list.size()) {
        return;
    }
    RCTimedCaption& caption = *list[size_t(row)];
    if (!wasPreviouslyPlaying_) {
        wasPreviouslyPlaying_ = player_ && player_->isPlaying();
        if (player_) {
            previousPlaybackTime_ = player_->currentTime();
            player_->pause();
        }
        // Shown on every frame while the user scrubs to its new ends.
        caption.startTime = MediaTime::zero();
        caption.endTime = duration();
        reload();
    }
    if (!player_) {
        return;
    }
    if (part == RCRangeSlider::Part::upperKnob) {
        player_->seekExactly(duration().multipliedBy(upper));
    } else if (part == RCRangeSlider::Part::lowerKnob || part == RCRangeSlider::Part::band) {
        player_->seekExactly(duration().multipliedBy(lower));
    }
}

void RCEditorCaptionsModel::rowRangeReleased(int row, double lower, double upper) {
    const CaptionList& list = captions();
    if (row < 0 || size_t(row) >= list.size()) {
        return;
    }
    if (player_ && previousPlaybackTime_) {
        player_->seekExactly(*previousPlaybackTime_);
    }
    if (player_ && wasPreviouslyPlaying_.value_or(false)) {
        player_->resume();
    }
    wasPreviouslyPlaying_.reset();
    previousPlaybackTime_.reset();
    RCTimedCaption& caption = *list[size_t(row)];
    caption.startTime = duration().multipliedBy(lower);
    caption.endTime = duration().multipliedBy(upper);
    changed();
}

void RCEditorCaptionsModel::togglePlayPause() {
    if (!player_) {
        return;
    }
    if (player_->isPlaying()) {
        player_->pause();
    } else {
        player_->resume();
    }
}

const char* RCEditorCaptionsModel::playButtonTitle() const {
    return player_ && player_->isPlaying() ? "PAUSE" : "PLAY";
}

void RCEditorCaptionsModel::playbackTimeChanged(MediaTime time) {
    if (!playheadDragging_) {
        playheadValue_ = fractionOf(time, duration());
    }
}

void RCEditorCaptionsModel::dragPlayhead(double x, double width) {
    if (!(1 < x && x < width - 1)) {
        return;
    }
    playheadDragging_ = true;
    playheadValue_ = x / width;
    if (player_) {
        player_->seekExactly(duration().multipliedBy(playheadValue_));
    }
}

void RCEditorCaptionsModel::tabShown() {
    editMode_ = true;
    if (!captions().empty()) {
        if (activeIndex_ < 0) {
            applyActiveIndex(0);
        }
        showStyleWindow(false);
    }
    reload();
}

void RCEditorCaptionsModel::tabHidden() {
    editMode_ = false;
    dragging_ = false;
    closeStyleWindow();
    reload();
}

void RCEditorCaptionsModel::prepareForClose() {
    closeStyleWindow();
}

int RCEditorCaptionsModel::styleSizeIndex() const {
    auto caption = activeCaption();
    const auto& items = captionSizeItems();
    for (size_t i = 0; caption && i < items.size(); ++i) {
        if (items[i].size == caption->size) {
            return int(i);
        }
    }
    return -1;
}

int RCEditorCaptionsModel::styleFontIndex() const {
    auto caption = activeCaption();
    const auto& items = captionFontItems();
    for (size_t i = 0; caption && i < items.size(); ++i) {
        if (caption->fontName == items[i].fontName) {
            return int(i);
        }
    }
    return -1;
}

int RCEditorCaptionsModel::styleAnimationIndex() const {
    auto caption = activeCaption();
    return caption && caption->animation ? int(caption->animation->type) : -1;
}

int RCEditorCaptionsModel::styleColorIndex() const {
    auto caption = activeCaption();
    const auto& colors = captionPalette();
    for (size_t i = 0; caption && i < colors.size(); ++i) {
        if (colors[i].color == caption->color) {
            return int(i);
        }
    }
    return -1;
}

void RCEditorCaptionsModel::setText(const std::string& text) {
    if (auto caption = activeCaption()) {
        caption->text = text;
        changed();
    }
}

bool RCEditorCaptionsModel::textFieldClickSelectsAll() const {
    auto caption = activeCaption();
    return caption && caption->text == kNewCaptionText;
}

void RCEditorCaptionsModel::chooseSizeIndex(int index) {
    auto caption = activeCaption();
    const auto& items = captionSizeItems();
    if (caption && index >= 0 && size_t(index) < items.size()) {
        caption->size = items[size_t(index)].size;
        changed();
    }
}

void RCEditorCaptionsModel::chooseFontIndex(int index) {
    auto caption = activeCaption();
    const auto& items = captionFontItems();
    if (caption && index >= 0 && size_t(index) < items.size()) {
        caption->fontName = items[size_t(index)].fontName;
        changed();
    }
}

void RCEditorCaptionsModel::chooseAnimationIndex(int index) {
    auto caption = activeCaption();
    auto type = captionAnimationTypeFromCode(index);
    if (caption && type) {
        caption->animation = RCTimedCaptionAnimation::animationWithType(*type);
        changed();
    }
}

void RCEditorCaptionsModel::chooseColorIndex(int index) {
    auto caption = activeCaption();
    if (!caption) {
        return;
    }
    const auto& colors = captionPalette();
    caption->color =
        index >= 0 && size_t(index) < colors.size() ? colors[size_t(index)].color : Color::white();
    changed();
}

void RCEditorCaptionsModel::setPreviewSize(Size size) {
    previewSize_ = size;
}

Rect RCEditorCaptionsModel::displayedRect() const {
    return aspectFitRect(recording_->dimensions(), Rect{Point{}, previewSize_});
}

double RCEditorCaptionsModel::playerScale() const {
    Size dimensions = recording_->dimensions();
    if (!(previewSize_.width > 0) || !(previewSize_.height > 0)) {
        return 1;
    }
    return std::max(dimensions.width / previewSize_.width, dimensions.height / previewSize_.height);
}

Point RCEditorCaptionsModel::videoPoint(Point viewPoint) const {
    Rect shown = displayedRect();
    double scale = playerScale();
    return Point{(viewPoint.x - shown.minX()) * scale,
                 recording_->dimensions().height - (viewPoint.y - shown.minY()) * scale};
}

Rect RCEditorCaptionsModel::captionHitRect(int index) const {
    const CaptionList& list = captions();
    if (index < 0 || size_t(index) >= list.size()) {
        return Rect{};
    }
    const RCTimedCaption& caption = *list[size_t(index)];
    // The text box as the captions layer places it: its measured size centred on the caption.
    Size size = caption.generateLayerWithOptions()->frame.size;
    Point centre = caption.centerPosition();
    Rect frame{Point{centre.x - size.width / 2, centre.y - size.height / 2}, size};
    if (caption.selected()) {
        frame.origin.x -= kSelectionOutsetX;
        frame.origin.y -= kSelectionOutsetY;
        frame.size.width += 2 * kSelectionOutsetX;
        frame.size.height += 2 * kSelectionOutsetY;
    }
    return frame;
}

int RCEditorCaptionsModel::previewMouseDown(Point viewPoint) {
    if (!editMode_) {
        return -1;
    }
    Point p = videoPoint(viewPoint);
    // The selected caption takes the press anywhere inside its outline, so that it can be
    // dragged off a caption it overlaps; otherwise the caption drawn on top of the others
    // (the last in the list) is the one the user clicked.
    int count = numberOfRows();
    if (activeIndex_ >= 0 && activeIndex_ < count && captionHitRect(activeIndex_).contains(p)) {
        dragging_ = true;
        initialDragLocation_ = p;
        return activeIndex_;
    }
    for (int i = count - 1; i >= 0; --i) {
        if (captionHitRect(i).contains(p)) {
            applyActiveIndex(i);
            return i;
        }
    }
    return -1;
}

void RCEditorCaptionsModel::previewMouseDragged(Point viewPoint) {
    auto caption = activeCaption();
    if (!dragging_ || !caption || !Rect{Point{}, previewSize_}.contains(viewPoint)) {
        return;
    }
    Point q = videoPoint(viewPoint);
    Point centre = caption->centerPosition();
    caption->setCenterPosition(
        Point{centre.x + q.x - initialDragLocation_.x, centre.y + q.y - initialDragLocation_.y});
    initialDragLocation_ = q;
    if (events_.captionMoved) {
        events_.captionMoved(activeIndex_);
    }
}

void RCEditorCaptionsModel::previewMouseUp() {
    if (!dragging_) {
        return;
    }
    dragging_ = false;
    if (editsChanged_) {
        editsChanged_();
    }
}

}  // namespace pindle
