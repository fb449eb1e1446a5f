#include "platform/wayland/wayland_outputs.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace pindle::wayland {
namespace {

struct Found {
    Output output;
    int pixelHeight = 0;
    wl_output* handle = nullptr;
    zxdg_output_v1* xdg = nullptr;
};

struct Registry {
    std::vector<std::unique_ptr<Found>> outputs;
    zxdg_output_manager_v1* manager = nullptr;
};

void onGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                const char*, int32_t) {}

void onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        static_cast<Found*>(data)->output.pixelWidth = width;
        static_cast<Found*>(data)->pixelHeight = height;
    }
}

void onDone(void*, wl_output*) {}

void onScale(void* data, wl_output*, int32_t factor) {
    static_cast<Found*>(data)->output.integerScale = factor;
}

void onName(void* data, wl_output*, const char* name) {
    static_cast<Found*>(data)->output.name = name;
}

void onDescription(void*, wl_output*, const char*) {}

const wl_output_listener kOutputListener{onGeometry, onMode, onDone,
                                         onScale,    onName, onDescription};

void onLogicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto& logical = static_cast<Found*>(data)->output.logical;
    logical.x = x;
    logical.y = y;
}

void onLogicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto& logical = static_cast<Found*>(data)->output.logical;
    logical.width = width;
    logical.height = height;
}

void onXdgDone(void*, zxdg_output_v1*) {}

void onXdgName(void* data, zxdg_output_v1*, const char* name) {
    auto& output = static_cast<Found*>(data)->output;
    if (output.name.empty()) {
        output.name = name;
    }
}

void onXdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kXdgOutputListener{onLogicalPosition, onLogicalSize, onXdgDone,
                                                 onXdgName, onXdgDescription};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* found = static_cast<Registry*>(data);
    if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<Found>();
        output->output.displayID = name;  // the global's name: never 0, stable while attached
        output->handle = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 4u)));
        wl_output_add_listener(output->handle, &kOutputListener, output.get());
        found->outputs.push_back(std::move(output));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
        found->manager = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
            registry, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};

}  // namespace

Result<std::vector<Output>> queryOutputs() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        return Error{"cannot connect to the Wayland display (is WAYLAND_DISPLAY set?)"};
    }
    Registry found;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &found);
    wl_display_roundtrip(display);
    if (found.manager != nullptr) {
        for (auto& output : found.outputs) {
            output->xdg = zxdg_output_manager_v1_get_xdg_output(found.manager, output->handle);
            zxdg_output_v1_add_listener(output->xdg, &kXdgOutputListener, output.get());
        }
    }
    const bool ok = wl_display_roundtrip(display) >= 0;
    std::vector<Output> outputs;
    for (auto& output : found.outputs) {
        Output o = output->output;
        // Without xdg-output the logical size is the mode divided by the integer scale.
        if (o.logical.width <= 0 && o.pixelWidth > 0) {
            o.logical.width = o.pixelWidth / std::max(1, o.integerScale);
            o.logical.height = output->pixelHeight / std::max(1, o.integerScale);
        }
        if (o.logical.width > 0 && o.logical.height > 0) {
            outputs.push_back(std::move(o));
        }
        if (output->xdg != nullptr) {
            zxdg_output_v1_destroy(output->xdg);
        }
        if (wl_output_get_version(output->handle) >= 3) {
            wl_output_release(output->handle);
        } else {
            wl_output_destroy(output->handle);
        }
    }
    if (found.manager != nullptr) {
        zxdg_output_manager_v1_destroy(found.manager);
    }
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!ok) {
        return Error{"the Wayland display closed the connection"};
    }
    return outputs;
}

}  // namespace pindle::wayland
