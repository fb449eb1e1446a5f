// Dragging a caption in the editor's preview while a 1280 × 720 recording plays at 60
// frames per second with five captions on it, on a private Xvfb.
//
//   pindle_caption_drag_bench [--seconds S] [--rate HZ] [--movie FILE]
//
// The editor window is opened on the recording with its Captions tab showing, and the preview
// plays. Then, for S seconds (default 4), the selected caption is dragged in a circle by
// pointer moves posted to the preview's event queue HZ times a second (default 120), as the
// window system delivers them. Printed, beside the same preview playing for as long without
// a drag (the run's own reference): movie frames painted per second, paints per second, and
// the time from each pointer move being posted to the end of the first paint after it was
// handled, which is the first paint that shows the caption at its new place.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>

#include "cpu_time.h"
#include "editor/RCEditorCaptions.h"
#include "editor/ui/RCEditorCaptionsViewController.h"
#include "editor/ui/RCEditorPlayerView.h"
#include "editor/ui/RCEditorWindowController.h"
#include "movie_fixtures.h"
#include "platform/ffmpeg/ffmpeg_media.h"
#include "platform/qt/main_queue_driver.h"
#include "platform/qt/qt_layers.h"
#include "test_support.h"
#include "xvfb_support.h"

namespace pindle {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

void runEventsFor(Clock::duration duration) {
    auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
}

struct NoDelegate : RCEditorWindowDelegate {
    void editorWindowControllerWillClose(RCEditorWindowControl*) override {}
};

// Paints of the preview: how many, and how many showed a movie frame not painted before.
struct PaintCount {
    long paints = 0;
    long frames = 0;
    double cpuSeconds = 0;
};

// Counts the moves the preview has handled, so that a paint knows which moves it shows.
class MoveCounter : public QObject {
public:
    long handled = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseMove) {
            ++handled;
        }
        return false;
    }
};

int main(int argc, char** argv) {
    double runSeconds = 4;
    double rate = 120;
    std::filesystem::path movie;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds")) {
            runSeconds = std::atof(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--rate")) {
            rate = std::atof(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--movie")) {
            movie = argv[i + 1];
        }
    }
    test::Xvfb xvfb("1920x1080x24");
    if (!xvfb.isRunning()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setenv("DISPLAY", xvfb.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    qt::installMainQueueDriver();
    ffmpeg::installMovieOpener();
    qt::installLayerRenderer();

    test::TempDir directory;
    if (movie.empty()) {
        movie = directory / "moving.mp4";
        if (!test::makeTestMovie(movie, {.width = 1280, .height = 720, .fps = 60, .seconds = 10})) {
            std::fprintf(stderr, "cannot make the test movie\n");
            return 1;
        }
    }
    RCRecordingPtr recording = RCRecording::recordingWithURL(movie);
    Size dimensions = recording->dimensions();
    const char* texts[] = {"FIRST CAPTION", "Second one", "DRAG ME", "Fourth", "the fifth"};
    for (int i = 0; i < 5; ++i) {
        auto caption = makeNewCaption(*recording);
        caption->text = texts[i];
        caption->size = CaptionSize(i % 5);
        caption->setCenterPosition(
            Point{dimensions.width * (0.2 + 0.15 * i), dimensions.height * (0.15 + 0.17 * i)});
        recording->editParameters()->captions().push_back(caption);
    }

    NoDelegate delegate;
    RCEditorEnvironment environment;
    ui::RCEditorWindowController editor(recording, delegate, environment, nullptr);
    editor.showWindow();
    editor.showCaptionsView();
    ui::RCEditorCaptionsViewController* tab = editor.captionsViewController();
    ui::RCEditorPlayerView* view = editor.playerView();
    RCEditorCaptionsModel& model = tab->model();
    const int dragged = 2;
    model.selectRow(dragged);
    runEventsFor(1500ms);
    if (!view->isPlaying()) {
        std::fprintf(stderr, "the preview does not play\n");
        return 1;
    }

    PaintCount paints;
    std::set<int64_t> framesSeen;
    MoveCounter moves;
    view->installEventFilter(&moves);
    struct Pending {
        long sequence;
        Clock::time_point postedAt;
    };
    std::deque<Pending> pending;
    std::vector<double> latencies;
    long posted = 0;
    QObject::connect(view, &ui::RCEditorPlayerView::painted, [&](MediaTime time) {
        ++paints.paints;
        if (framesSeen.insert(time.convertScale(60'000).value).second) {
            ++paints.frames;
        }
        auto now = Clock::now();
        while (!pending.empty() && pending.front().sequence < moves.handled) {
            latencies.push_back(milliseconds(now - pending.front().postedAt));
            pending.pop_front();
        }
    });

    auto measure = [&](bool drag) {
        paints = {};
        framesSeen.clear();
        latencies.clear();
        pending.clear();
        QPointF centre;
        double radius = 0;
        if (drag) {
            Rect shown = model.displayedRect();
            double scale = model.playerScale();
            Point caption = model.activeCaption()->centerPosition();
            centre = QPointF(shown.minX() + caption.x / scale,
                             shown.minY() + (dimensions.height - caption.y) / scale);
            radius = shown.height() / 6;
            QMouseEvent press(QEvent::MouseButtonPress, centre, view->mapToGlobal(centre),
                              Qt::LeftButton, Qt::LeftButton, {});
            QApplication::sendEvent(view, &press);
            if (!model.isDraggingCaption()) {
                std::fprintf(stderr, "the press did not take the caption\n");
                std::exit(1);
            }
        }
        QTimer mover;
        mover.setTimerType(Qt::PreciseTimer);
        mover.setInterval(int(std::lround(1000 / rate)));
        long step = 0;
        QObject::connect(&mover, &QTimer::timeout, [&] {
            double angle = double(++step) * 2 * M_PI / rate;  // a circle a second
            QPointF at = centre + QPointF(radius * std::sin(angle), radius * (1 - std::cos(angle)));
            pending.push_back({posted, Clock::now()});
            ++posted;
            QCoreApplication::postEvent(
                view, new QMouseEvent(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton,
                                      Qt::LeftButton, {}));
        });
        moves.handled = 0;
        posted = 0;
        if (drag) {
            mover.start();
        }
        double cpuStart = processCpuSeconds();
        runEventsFor(
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(runSeconds)));
        mover.stop();
        paints.cpuSeconds = processCpuSeconds() - cpuStart;
        if (drag) {
            QMouseEvent release(QEvent::MouseButtonRelease, centre, view->mapToGlobal(centre),
                                Qt::LeftButton, Qt::NoButton, {});
            QApplication::sendEvent(view, &release);
        }
        return paints;
    };

    std::printf("movie %s: %.0f x %.0f at %.0f fps, 5 captions; %.0f s per run, moves at %.0f Hz\n",
                movie.filename().c_str(), dimensions.width, dimensions.height,
                double(recording->FPS()), runSeconds, rate);
    std::printf("%-10s %-8s %9s %9s %9s %7s %10s %10s\n", "preview", "run", "frames/s", "paints/s",
                "CPU s/s", "moves", "median ms", "p95 ms");
    // The editor as it opens, then enlarged until the preview shows the movie at its own size.
    for (bool enlarged : {false, true}) {
        if (enlarged) {
            editor.resize(editor.width() + (1280 - view->width()),
                          editor.height() + (720 - view->height()));
            runEventsFor(1s);
        }
        char preview[32];
        std::snprintf(preview, sizeof preview, "%dx%d", view->width(), view->height());
        for (bool drag : {false, true}) {
            PaintCount counted = measure(drag);
            char moved[16] = "-", median[16] = "-", p95[16] = "-";
            if (drag) {
                std::snprintf(moved, sizeof moved, "%ld", posted);
                std::snprintf(median, sizeof median, "%.1f", percentile(latencies, 0.5));
                std::snprintf(p95, sizeof p95, "%.1f", percentile(latencies, 0.95));
            }
            std::printf("%-10s %-8s %9.1f %9.1f %9.2f %7s %10s %10s\n", preview,
                        drag ? "drag" : "still", double(counted.frames) / runSeconds,
                        double(counted.paints) / runSeconds, counted.cpuSeconds / runSeconds, moved,
                        median, p95);
        }
    }
    std::printf("goals while dragging: frames/s >= 55, median move to paint <= 20 ms\n");
    editor.close();
    return 0;
}

}  // namespace
}  // namespace pindle

int main(int argc, char** argv) {
    return pindle::main(argc, argv);
}
