// JUCE's graphics module, less its PNG, JPEG and GIF loaders (cmake/juce.cmake
// writes the module file without them), so that no image codec is linked into
// a program that decodes no image. The three formats JUCE's registry of image
// formats names are defined here instead, declining every image: nothing can
// reach a decoder that is not there, and every other part of the module is
// JUCE's own.
#include "juce_graphics_without_image_formats.cpp"

// What each of the three formats does: it takes no file and no stream for its
// own, decodes nothing and writes nothing.
#define LAUNCHER_DECLINING_IMAGE_FORMAT(Format, formatName)                                                            \
    String Format::getFormatName()                                                                                     \
    {                                                                                                                  \
        return formatName;                                                                                             \
    }                                                                                                                  \
    bool Format::usesFileExtension (const File&)                                                                       \
    {                                                                                                                  \
        return false;                                                                                                  \
    }                                                                                                                  \
    bool Format::canUnderstand (InputStream&)                                                                          \
    {                                                                                                                  \
        return false;                                                                                                  \
    }                                                                                                                  \
    Image Format::decodeImage (InputStream&)                                                                           \
    {                                                                                                                  \
        return {};                                                                                                     \
    }                                                                                                                  \
    bool Format::writeImageToStream (const Image&, OutputStream&)                                                      \
    {                                                                                                                  \
        return false;                                                                                                  \
    }

namespace juce
{
PNGImageFormat::PNGImageFormat() = default;
PNGImageFormat::~PNGImageFormat() = default;
LAUNCHER_DECLINING_IMAGE_FORMAT (PNGImageFormat, "PNG")

JPEGImageFormat::JPEGImageFormat() : quality (-1.0f)
{
}
JPEGImageFormat::~JPEGImageFormat() = default;
void JPEGImageFormat::setQuality (float newQuality)
{
    quality = newQuality;
}
LAUNCHER_DECLINING_IMAGE_FORMAT (JPEGImageFormat, "JPEG")

GIFImageFormat::GIFImageFormat() = default;
GIFImageFormat::~GIFImageFormat() = default;
LAUNCHER_DECLINING_IMAGE_FORMAT (GIFImageFormat, "GIF")
} // namespace juce
