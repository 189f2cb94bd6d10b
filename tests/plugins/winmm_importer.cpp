// A program that imports WINMM the plain way, as this program did: run beside the marker
// winmm.dll, it shows that the marker is taken when the system's search order allows it.
#include <windows.h>
#include <mmsystem.h>

// Imported, never called: the marker has none of WINMM's functions.
int main(int argc, char**) {
    return argc > 100 ? static_cast<int>(waveOutGetNumDevs()) : 0;
}
