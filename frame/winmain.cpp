// The program's entry point. It constructs nothing: the one application
// object already exists, registered by its constructor during static
// initialisation.
#include "frame.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (app == NULL) return -1;
    return app->Start(instance);
}
