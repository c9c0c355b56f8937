// juce_core's GZIP streams and ZIP reader, as JUCE's module file includes
// them, compiled as a unit of their own (cmake/juce.cmake says why): the rest
// of the module is compiled from its own file without them. They are the
// module's only code that includes zlib.h, and share its zlibNamespace, so
// they stay together, in JUCE's order.
#include <juce_core/juce_core.h>

#include <juce_core/zip/juce_GZIPDecompressorInputStream.cpp>
#include <juce_core/zip/juce_GZIPCompressorOutputStream.cpp>
#include <juce_core/zip/juce_ZipFile.cpp>
