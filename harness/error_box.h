#pragma once

// The launcher's error box as another program finds and answers it: a
// top-level window of the launcher's process under the launcher's title, its
// text in the static control MessageBoxW numbers 0xFFFF, closed by its OK.

#include "child_process.h"
#include "family.h"

#include <algorithm>
#include <string>
#include <vector>

const std::wstring errorTitle = L"" FAMILY_ERROR_TITLE;

// FindWindowExW compares titles itself, without case; under Wine it finds a
// box several times faster than EnumWindows asking every window for its owner
// and title, and the benchmark times the box by polling this every millisecond.
inline HWND errorBoxOf (DWORD processId, HWND after = nullptr)
{
    while ((after = FindWindowExW (nullptr, after, nullptr, errorTitle.c_str())) != nullptr)
    {
        DWORD owner = 0;
        GetWindowThreadProcessId (after, &owner);

        if (owner == processId)
            return after;
    }

    return nullptr;
}

inline std::wstring windowTextOf (HWND window)
{
    wchar_t text[4096] {};
    GetWindowTextW (window, text, 4096);
    return text;
}

inline std::wstring bodyOf (HWND box)
{
    wchar_t body[4096] {};
    GetDlgItemTextW (box, 0xFFFF, body, 4096);
    return body;
}

struct ErrorBoxOutcome
{
    std::size_t boxesShown = 0; // titled exactly as the launcher's, case and all
    std::wstring firstBody;
    DWORD exitStatus = 0;
};

// Presses OK on each box until the launcher has ended, and again while a box
// stays: a press can arrive before the box's own loop runs.
inline ErrorBoxOutcome dismissErrorBoxes (const ChildProcess& launcher)
{
    ErrorBoxOutcome outcome;
    std::vector<HWND> seen;

    for (DWORD waited = 0; ! launcher.hasExited (pollMs) && waited < patienceMs; waited += pollMs)
    {
        for (auto box = errorBoxOf (launcher.id()); box != nullptr; box = errorBoxOf (launcher.id(), box))
        {
            if (std::find (seen.begin(), seen.end(), box) == seen.end())
            {
                if (seen.empty())
                    outcome.firstBody = bodyOf (box);

                outcome.boxesShown += windowTextOf (box) == errorTitle ? 1 : 0;
                seen.push_back (box);
            }

            PostMessageW (box, WM_COMMAND, IDOK, 0);
        }
    }

    outcome.exitStatus = launcher.exitStatus();
    return outcome;
}
