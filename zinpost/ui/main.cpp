// Entry point of zinpost.exe.
#include "zinpost/ui/zinpostApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return TheApp().InitInstance(); }
