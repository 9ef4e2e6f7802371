// Writes the program's icon as a PNG at build time, drawn by the same code that draws the settings
// dialog's window icon, so that the installed picture cannot drift from it.
//   vb_icon_png OUTPUT.png
#include "config/ProgramIcon.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    if (!vb::ProgramIconImage().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
