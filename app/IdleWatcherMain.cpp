#include "app/IdleMain.h"

int main(int argc, char** argv)
{
    return vb::RunIdleWatcher(argc, argv);
}
