#pragma once

#include <QIcon>
#include <QImage>

namespace vb {

// The program's picture (data/vellumbright.svg, built into the program), drawn at 64 x 64 pixels
// in 24-bit colour: the configuration dialog's window icon.
QImage ProgramIconImage();
QIcon ProgramIcon();

} // namespace vb
