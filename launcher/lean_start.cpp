// What keeps a launch that hands over from paying for the error box.
//
// JUCE's GUI libraries are delay-loaded, so they are mapped only when the box
// is shown. While the program starts, though, JUCE seeds a file-scope Random
// from timeGetTime, and winmm brings OLE and RPC in behind it. Answering that
// one call from kernel32 keeps all of them out of every launch; JUCE's
// millisecond counter then has the tick count's resolution, which the native
// message box never notices.
// See JUCE 7.0.5 (toolchain.lock: juce-modules-source-data) modules/juce_core/files/juce_TemporaryFile.cpp, lockedRandom, and Random::setSeedRandomly()
// See Wine's dlls/winmm/Makefile.in: winmm imports ole32.

// Lean, so that winmm's own declaration of timeGetTime is not seen here.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" DWORD WINAPI timeGetTime()
{
    return GetTickCount();
}
