#pragma once
// Pure image decoding for the texture loader: bytes in, a pixel buffer laid out as
// OpenGL takes it or a refusal out. No GL, no toolkit, no message shown: the
// caller shows the refusal (the texture loader through the message service,
// kglmodel on standard error).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kgl {

struct TImage {
    int32_t width = 0;            // 1 .. 65535
    int32_t height = 0;           // 1 .. 65535
    int32_t channels = 0;         // 3 (red, green, blue) or 4 (red, green, blue, alpha 255)
    int32_t alignment = 4;        // the GL_UNPACK_ALIGNMENT the rows are laid out for (1 or 4)
    std::vector<uint8_t> pixels;  // bottom row first, rows padded to alignment; as handed to OpenGL
};

struct TImageRefusal {
    std::string caption;  // "BMP Unit", "TGA File Error", "TGA Texture"
    std::string message;  // the full text shown to the user, naming the file
};

// The reader a file name asks for: the upper-cased last four characters (the whole
// name when shorter) are ".BMP", ".JPG" or ".TGA". ".JPEG", ".PNG" or none: kNone.
enum class TImageReader { kNone, kBMP, kJPG, kTGA };
TImageReader ReaderForName(std::string_view fileName);

// Uncompressed 24-bit BMP (14-byte file header, then an info header of 40 bytes or
// more). Pixels are taken from bfOffBits; each row keeps its padding to 4 bytes and
// has red and blue exchanged, so the result is 3 channels, alignment 4, rows bottom
// first as a bottom-up BMP stores them. Refused ("BMP Unit"): a file shorter than
// the headers, a palette (biClrUsed entries of 4 bytes) longer than the file, a
// width or height below 1 or above 65535 (top-down files, with a negative height,
// included), a bit depth other than 24, a compression other than none, a
// biSizeImage that is not 0 but smaller than the padded rows, a bfOffBits inside
// the headers, and fewer bytes from bfOffBits on than biSizeImage announces (the
// padded rows when it is 0). fileName only names the file in the messages.
bool DecodeBMP(std::string_view bytes, const std::string& fileName, TImage& image, TImageRefusal& refusal);

// Uncompressed true-colour 24-bit TGA (image type 2, no colour map). The image-ID
// field announced by byte 0 is skipped; rows are turned bottom first when byte 17
// says the origin is the top-left corner; blue, green, red become red, green, blue.
// Result: 3 channels, alignment 1 (TGA rows are not padded). Refused ("TGA File
// Error"), in this order: a header shorter than 18 bytes; image type not 2
// ("Compressed"); colour-map type not 0 ("Colormapped"); bits per pixel not 24
// ("Only 24 bit"); a zero width or height; fewer pixel bytes than width x height x 3
// ("Couldn't read file"), which also stops a declared size larger than the file.
bool DecodeTGA(std::string_view bytes, const std::string& fileName, TImage& image, TImageRefusal& refusal);

// Any JPEG libjpeg reads, at full size: colour and greyscale images, CMYK and YCCK
// ones (Adobe's inverted convention when the Adobe marker says so) all come out as
// 4 channels (alpha 255), alignment 4, bottom row first. Any failure (not a JPEG,
// damaged or truncated data, more than kMaxJpegPixels pixels) gives the one message
// "Couldn't load JPG - \"name\"" with caption "BMP Unit"; libjpeg's errors are
// caught inside a plain C-style frame, never by jumping across C++ objects.
inline constexpr uint64_t kMaxJpegPixels = uint64_t(1) << 28;
bool DecodeJPG(std::string_view bytes, const std::string& fileName, TImage& image, TImageRefusal& refusal);

// Reads fileName whole and decodes it with the reader its name asks for. False with
// the reader's refusal; a file that cannot be read gives the reader's own message
// ("Error opening ", "Couldn't load JPG - ", "File not found  - "); no reader for the
// name: false with caption and message empty.
bool DecodeImageFile(const std::string& fileName, TImage& image, TImageRefusal& refusal);
// The same with the reader given, whatever the name (LoadBMPTexture and the others).
bool DecodeImageFileAs(TImageReader reader, const std::string& fileName, TImage& image, TImageRefusal& refusal);

// The checkerboard of the bundled "checker.jpg", made in memory: size x size texels
// (1 .. 8192), squares x squares squares (1 .. size) of size / squares texels, light
// (235, 225, 200) where column square + row square counted from the top is even, else
// dark (40, 70, 140). 3 channels, alignment 4, bottom row first like every TImage.
// Out-of-range arguments give an empty image.
TImage CheckerImage(int32_t size, int32_t squares);

// The messages and captions, word for word.
std::string JpgFailureMessage(const std::string& fileName);      // Couldn't load JPG - "name"
std::string TgaNotFoundMessage(const std::string& fileName);     // File not found  - name
std::string BmpOpenFailureMessage(const std::string& fileName);  // Error opening name
inline constexpr const char* kBmpCaption = "BMP Unit";
inline constexpr const char* kTgaErrorCaption = "TGA File Error";
inline constexpr const char* kTgaTextureCaption = "TGA Texture";

}  // namespace kgl
