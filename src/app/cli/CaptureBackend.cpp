#include "app/cli/CaptureBackend.h"

#include <cstdio>
#include <cstdlib>

#include "platform/wayland/screencast_portal.h"
#include "platform/wayland/wayland_capture.h"
#include "platform/x11/x11_capture.h"

namespace pindle::cli {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::shared_ptr<Defaults>& captureSettings() {
    static std::shared_ptr<Defaults> settings;
    return settings;
}

}  // namespace

Result<CaptureBackendChoice> chooseCaptureBackend() {
    const std::string forced = environment("PINDLE_CAPTURE_BACKEND");
    if (forced == "x11" || forced == "wayland") {
        return CaptureBackendChoice{forced, "PINDLE_CAPTURE_BACKEND=" + forced};
    }
    if (!forced.empty()) {
        return Error{"PINDLE_CAPTURE_BACKEND is \"" + forced + "\"; it takes x11 or wayland"};
    }
    if (environment("WAYLAND_DISPLAY").empty()) {
        return CaptureBackendChoice{"x11", "WAYLAND_DISPLAY is not set"};
    }
    const wayland::PortalInfo portal = wayland::queryScreenCastPortal();
    if (!portal.offersScreenCast) {
        return CaptureBackendChoice{"x11", "a Wayland session, but " + portal.problem};
    }
    return CaptureBackendChoice{"wayland",
                                "a Wayland session whose desktop portal offers screen casting"};
}

void setCaptureSettings(std::shared_ptr<Defaults> settings) {
    captureSettings() = std::move(settings);
}

std::unique_ptr<ScreenCapturePlatform> makeScreenCapture(const CaptureBackendChoice& choice) {
    if (choice.name == "wayland") {
        return wayland::makeScreenCapturePlatform(captureSettings());
    }
    return x11::makeScreenCapturePlatform();
}

int runDoctor(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "pindle-capture doctor: takes no arguments\n");
        return 2;
    }
    auto choice = chooseCaptureBackend();
    if (!choice) {
        std::fprintf(stderr, "pindle-capture doctor: %s\n", choice.error().message.c_str());
        return 2;
    }
    std::printf("capture backend: %s (%s)\n", choice->name.c_str(), choice->reason.c_str());
    const wayland::PortalInfo portal = wayland::queryScreenCastPortal();
    if (portal.offersScreenCast) {
        std::printf("screen-cast portal: version %u, source types %u, cursor modes %u\n",
                    portal.version, portal.sourceTypes, portal.cursorModes);
    } else {
        std::printf("screen-cast portal: none (%s)\n", portal.problem.c_str());
    }
    std::printf("PipeWire: %s\n", wayland::pipeWireVersion().c_str());
    auto platform = makeScreenCapture(*choice);
    const auto screens = platform->screens();
    for (const Screen& screen : screens) {
        std::printf("display %u \"%s\": %gx%g points at (%g, %g), %g pixels per point\n",
                    screen.displayID, screen.name.c_str(), screen.frame.width(),
                    screen.frame.height(), screen.frame.minX(), screen.frame.minY(),
                    screen.backingScaleFactor);
    }
    if (screens.empty()) {
        std::printf("displays: none reachable\n");
        return 1;
    }
    return 0;
}

}  // namespace pindle::cli
