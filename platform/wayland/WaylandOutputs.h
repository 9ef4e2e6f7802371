#pragma once

#include <QString>
#include <optional>

namespace vb::wayland {

// The scale at which the compositor shows an output (by its name, as QScreen::name() gives it):
// its device pixels per logical pixel, from the output's current mode against its logical size
// (xdg-output). Qt 6.4 knows only the whole-number scale of wl_output, which a compositor at a
// fractional scale rounds up (sway at 1.5 says 2): the surfaces are drawn at that scale, and the
// compositor reduces them by the ratio of the two.
//
// Asked on a connection of its own, opened at the first call. Every call first takes in what the
// compositor has said since (one round trip), so a scale that Qt has already reported has arrived
// here as well. nullopt where there is no compositor or no such output, or the compositor does not
// offer xdg-output.
std::optional<double> OutputScale(const QString& outputName);

} // namespace vb::wayland
