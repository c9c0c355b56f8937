// JUCE's JPEG loader names `boolean` inside its own jpeg namespace, which only
// JUCE's bundled libjpeg declares; with the system's libjpeg it must come from
// here, with the type MinGW's headers give it.
namespace juce
{
namespace jpeglibNamespace
{
typedef unsigned char boolean;
}
} // namespace juce

#include <juce_graphics/juce_graphics.cpp>
