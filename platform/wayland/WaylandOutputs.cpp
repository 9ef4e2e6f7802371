#include "platform/wayland/WaylandOutputs.h"

#include <QByteArray>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>
#include <wayland-client.h>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace vb::wayland {

namespace {

// Compositors keep fractional scales in steps of 1/120 (the unit of wp_fractional_scale_v1), and
// the logical size they report is cut to whole pixels: the ratio is rounded back to the step.
constexpr double ScaleSteps = 120.0;

struct Output
{
    uint32_t global = 0;
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    QString name;
    int32_t modeWidth = 0;
    int32_t modeHeight = 0;
    int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
    int32_t logicalWidth = 0;
    int32_t logicalHeight = 0;

    ~Output()
    {
        if (xdgOutput)
            zxdg_output_v1_destroy(xdgOutput);
        if (output)
            wl_output_destroy(output);
    }
};

struct Connection
{
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zxdg_output_manager_v1* manager = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;
    // An output bound since the last round trip, whose description is still to come.
    bool pending = false;
};

void OnGeometry(void* data, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*,
                int32_t transform)
{
    static_cast<Output*>(data)->transform = transform;
}

void OnMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t)
{
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        auto* output = static_cast<Output*>(data);
        output->modeWidth = width;
        output->modeHeight = height;
    }
}

void OnOutputDone(void*, wl_output*) {}
void OnScale(void*, wl_output*, int32_t) {}
void OnOutputName(void*, wl_output*, const char*) {}
void OnOutputDescription(void*, wl_output*, const char*) {}

const wl_output_listener OutputListener = {OnGeometry, OnMode,       OnOutputDone,
                                           OnScale,    OnOutputName, OnOutputDescription};

void OnLogicalPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}

void OnLogicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height)
{
    auto* output = static_cast<Output*>(data);
    output->logicalWidth = width;
    output->logicalHeight = height;
}

void OnXdgDone(void*, zxdg_output_v1*) {}

void OnName(void* data, zxdg_output_v1*, const char* name)
{
    static_cast<Output*>(data)->name = QString::fromUtf8(name);
}

void OnDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener XdgOutputListener = {OnLogicalPosition, OnLogicalSize, OnXdgDone, OnName,
                                                   OnDescription};

void Describe(Connection& connection, Output& output)
{
    if (!connection.manager || output.xdgOutput)
        return;
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(connection.manager, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &XdgOutputListener, &output);
    connection.pending = true;
}

void OnGlobal(void* data, wl_registry* registry, uint32_t global, const char* interface, uint32_t version)
{
    auto& connection = *static_cast<Connection*>(data);
    if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<Output>();
        output->global = global;
        output->output = static_cast<wl_output*>(
            wl_registry_bind(registry, global, &wl_output_interface, std::min(version, 2u)));
        wl_output_add_listener(output->output, &OutputListener, output.get());
        connection.pending = true;
        Describe(connection, *output);
        connection.outputs.push_back(std::move(output));
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && version >= 2) {
        // From version 2 on an xdg-output tells its output's name.
        connection.manager = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry, global, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
        for (const auto& output : connection.outputs)
            Describe(connection, *output);
    }
}

void OnGlobalRemove(void* data, wl_registry*, uint32_t global)
{
    auto& outputs = static_cast<Connection*>(data)->outputs;
    std::erase_if(outputs, [global](const auto& output) { return output->global == global; });
}

const wl_registry_listener RegistryListener = {OnGlobal, OnGlobalRemove};

// The connection, opened at the first call; null where there is no compositor, or once it broke.
Connection* Connected()
{
    static Connection* connection = [] {
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            return static_cast<Connection*>(nullptr);
        wl_display* display = wl_display_connect(nullptr);
        if (!display)
            return static_cast<Connection*>(nullptr);
        auto* made = new Connection;
        made->display = display;
        made->registry = wl_display_get_registry(display);
        wl_registry_add_listener(made->registry, &RegistryListener, made);
        return made;
    }();
    if (!connection)
        return nullptr;
    // Outputs bound in one round trip describe themselves in the next; a few suffice.
    for (int trip = 0; trip < 3; ++trip) {
        connection->pending = false;
        if (wl_display_roundtrip(connection->display) < 0)
            return nullptr;
        if (!connection->pending)
            break;
    }
    return connection;
}

} // namespace

std::optional<double> OutputScale(const QString& outputName)
{
    Connection* connection = Connected();
    if (!connection)
        return std::nullopt;
    for (const auto& output : connection->outputs) {
        if (output->name != outputName || output->logicalWidth <= 0 || output->modeWidth <= 0)
            continue;
        // An odd transform turns the output a quarter: its mode is then upright the other way.
        const bool quarter = output->transform % 2 == 1;
        const int32_t width = quarter ? output->modeHeight : output->modeWidth;
        const double scale = double(width) / output->logicalWidth;
        return std::max(1.0 / ScaleSteps, std::round(scale * ScaleSteps) / ScaleSteps);
    }
    return std::nullopt;
}

} // namespace vb::wayland
