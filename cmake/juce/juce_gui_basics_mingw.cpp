// On 32-bit MinGW, JUCE replaces __uuidof with its UUIDGetter template, which
// wants a type where MinGW's IID_PPV_ARGS passes an expression. Deducing the
// interface from the pointer instead keeps JUCE's own UUIDs in use.
// See JUCE 7.0.5 (toolchain.lock: juce-modules-source-data) juce_core/native/juce_win32_ComSmartPtr.h, UUIDGetter.
#define JUCE_CORE_INCLUDE_COM_SMART_PTR 1
#define JUCE_CORE_INCLUDE_NATIVE_HEADERS 1
#include <juce_core/juce_core.h>

template <typename Interface>
IID juceUuidOfPointee (Interface**)
{
    return juce::UUIDGetter<Interface>::get();
}

#undef IID_PPV_ARGS
#define IID_PPV_ARGS(pointer) juceUuidOfPointee (pointer), IID_PPV_ARGS_Helper (pointer)

#include <juce_gui_basics/juce_gui_basics.cpp>
