// The decoders on images built in the test: no GL.
#include <gtest/gtest.h>

#include <cstdlib>

#include "image_builders.h"
#include "image_decode.h"
#include "test_support.h"

using namespace kgl;
using namespace kgl::test;

namespace {

std::vector<TRgb> Fill(size_t n, TRgb p) { return std::vector<TRgb>(n, p); }

TImageRefusal RefuseBmp(const TBmpSpec& layout) {
    TImage image;
    TImageRefusal refusal;
    EXPECT_FALSE(DecodeBMP(BmpBytes(layout), "x.bmp", image, refusal));
    EXPECT_EQ(refusal.caption, "BMP Unit");
    return refusal;
}

TImageRefusal RefuseTga(const std::string& bytes) {
    TImage image;
    TImageRefusal refusal;
    EXPECT_FALSE(DecodeTGA(bytes, "x.tga", image, refusal));
    EXPECT_EQ(refusal.caption, "TGA File Error");
    return refusal;
}

void ExpectShape(const TImage& image, int width, int height, int channels, int alignment) {
    EXPECT_EQ(image.width, width);
    EXPECT_EQ(image.height, height);
    EXPECT_EQ(image.channels, channels);
    EXPECT_EQ(image.alignment, alignment);
}

void ExpectNear(const uint8_t* px, int r, int g, int b, int tolerance = 6) {
    EXPECT_NEAR(px[0], r, tolerance);
    EXPECT_NEAR(px[1], g, tolerance);
    EXPECT_NEAR(px[2], b, tolerance);
}

}  // namespace

TEST(ReaderForName, UpperCasedLastFourCharacters) {
    EXPECT_EQ(ReaderForName("checker.jpg"), TImageReader::kJPG);
    EXPECT_EQ(ReaderForName("CHECKER.JPG"), TImageReader::kJPG);
    EXPECT_EQ(ReaderForName("a.b.Jpg"), TImageReader::kJPG);
    EXPECT_EQ(ReaderForName("dir.tga/x.bmp"), TImageReader::kBMP);
    EXPECT_EQ(ReaderForName("x.TgA"), TImageReader::kTGA);
    EXPECT_EQ(ReaderForName("checker.jpeg"), TImageReader::kNone);
    EXPECT_EQ(ReaderForName("a.png"), TImageReader::kNone);
    EXPECT_EQ(ReaderForName("bmp"), TImageReader::kNone);
    EXPECT_EQ(ReaderForName(".bmp"), TImageReader::kBMP);
    EXPECT_EQ(ReaderForName(""), TImageReader::kNone);
}

TEST(DecodeTGA, TwoByTwoGivesRedGreenBlueFromBlueGreenRed) {
    TTgaSpec layout = Tga(2, 2, Fill(4, {30, 20, 10}));  // stored 10, 20, 30
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeTGA(TgaBytes(layout), "x.tga", image, refusal));
    ExpectShape(image, 2, 2, 3, 1);
    ASSERT_EQ(image.pixels.size(), 12u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(image.pixels[3 * i], 30);
        EXPECT_EQ(image.pixels[3 * i + 1], 20);
        EXPECT_EQ(image.pixels[3 * i + 2], 10);
    }
}

// Regression: the image-ID field used to be read as pixel data.
TEST(DecodeTGA, SkipsTheImageIdField) {
    TTgaSpec layout = Tga(1, 1, {{1, 2, 3}});
    layout.imageId = "hello";
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeTGA(TgaBytes(layout), "x.tga", image, refusal));
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{1, 2, 3}));
}

// Regression: a top-left origin file used to come out upside down.
TEST(DecodeTGA, TopLeftOriginIsTurnedBottomRowFirst) {
    TTgaSpec layout = Tga(1, 3, {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeTGA(TgaBytes(layout), "x.tga", image, refusal));
    EXPECT_EQ(image.pixels[0], 1);
    layout.descriptor = 0x20;
    ASSERT_TRUE(DecodeTGA(TgaBytes(layout), "x.tga", image, refusal));
    EXPECT_EQ(image.pixels[0], 3);
    EXPECT_EQ(image.pixels[3], 2);
    EXPECT_EQ(image.pixels[6], 1);
}

TEST(DecodeTGA, RefusalsInOrderWithTheirMessages) {
    TTgaSpec ok = Tga(2, 2, Fill(4, {1, 2, 3}));
    TTgaSpec s = ok;
    s.imageType = 10;  // run-length encoded
    EXPECT_EQ(RefuseTga(TgaBytes(s)).message, "Couldn't load \"x.tga\". Compressed TGA files not supported.");
    s.imageType = 1;  // colour-mapped fails the type test first
    s.colorMapType = 1;
    EXPECT_EQ(RefuseTga(TgaBytes(s)).message, "Couldn't load \"x.tga\". Compressed TGA files not supported.");
    s = ok;
    s.colorMapType = 1;
    EXPECT_EQ(RefuseTga(TgaBytes(s)).message, "Couldn't load \"x.tga\". Colormapped TGA files not supported.");
    s = ok;
    s.bitsPerPixel = 32;
    EXPECT_EQ(RefuseTga(TgaBytes(s)).message, "Couldn't load \"x.tga\". Only 24 bit TGA files supported.");
    s = ok;
    s.width = 0;
    s.pixels.clear();
    EXPECT_EQ(RefuseTga(TgaBytes(s)).message, "Couldn't load \"x.tga\". Width and height must be at least 1 pixel.");
    // Declared far larger than the data: refused before any allocation of that size.
    s = ok;
    s.width = 65535;
    s.height = 65535;
    EXPECT_EQ(RefuseTga(TgaBytes(s)).message, "Couldn't read file \"x.tga\".");
    // One byte short, and a header cut short.
    std::string bytes = TgaBytes(ok);
    EXPECT_EQ(RefuseTga(bytes.substr(0, bytes.size() - 1)).message, "Couldn't read file \"x.tga\".");
    EXPECT_EQ(RefuseTga(bytes.substr(0, 17)).message, "Couldn't read file \"x.tga\".");
    // The image-ID field counts against the data that follows it.
    s = ok;
    s.imageId = std::string(200, 'i');
    bytes = TgaBytes(s);
    EXPECT_EQ(RefuseTga(bytes.substr(0, bytes.size() - 1)).message, "Couldn't read file \"x.tga\".");
}

TEST(DecodeBMP, FourByFourWithRedFirstPixel) {
    TBmpSpec layout = Bmp(4, 4, Fill(16, {0, 0, 255}));
    layout.pixels[0] = {255, 0, 0};  // stored blue 0, green 0, red 255
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeBMP(BmpBytes(layout), "x.bmp", image, refusal));
    ExpectShape(image, 4, 4, 3, 4);
    ASSERT_EQ(image.pixels.size(), 48u);
    EXPECT_EQ(image.pixels[0], 255);
    EXPECT_EQ(image.pixels[1], 0);
    EXPECT_EQ(image.pixels[2], 0);
    EXPECT_EQ(image.pixels[5], 255);  // the next pixel is blue
}

// Regression: the red-blue swap drifted by the row padding from the second row on.
TEST(DecodeBMP, PaddedRowsAreSwappedRowByRow) {
    // Width 3: 9 bytes of pixels and 3 of padding a row.
    TBmpSpec layout = Bmp(3, 3, {});
    for (int i = 0; i < 9; ++i)
        layout.pixels.push_back({uint8_t(10 * i + 1), uint8_t(10 * i + 2), uint8_t(10 * i + 3)});
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeBMP(BmpBytes(layout), "x.bmp", image, refusal));
    ASSERT_EQ(image.pixels.size(), 36u);
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k) {
            const int i = r * 3 + k;
            const uint8_t* px = image.pixels.data() + r * 12 + k * 3;
            EXPECT_EQ(px[0], 10 * i + 1) << "row " << r << " column " << k;
            EXPECT_EQ(px[1], 10 * i + 2);
            EXPECT_EQ(px[2], 10 * i + 3);
        }
}

// Regression: pixels were read right after the palette, ignoring bfOffBits; and a
// zero biSizeImage sized the data without the row padding.
TEST(DecodeBMP, PixelsComeFromBfOffBits) {
    TBmpSpec layout = Bmp(2, 2, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}});
    layout.sizeImage = 0;
    layout.clrUsed = 2;
    layout.gap = 10;
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeBMP(BmpBytes(layout), "x.bmp", image, refusal));
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}));
}

TEST(DecodeBMP, EveryRefusalHasItsMessage) {
    const TBmpSpec ok = Bmp(2, 2, Fill(4, {1, 2, 3}));
    const std::string sides =
        "Couldn't load \"x.bmp\". Width and height must be 1 to 65535 pixels (top-down bitmaps are not supported).";
    TBmpSpec s = ok;
    s.height = -2;
    EXPECT_EQ(RefuseBmp(s).message, sides);
    s = ok;
    s.width = 0;
    s.pixels.clear();
    EXPECT_EQ(RefuseBmp(s).message, sides);
    s = ok;
    s.height = 0;
    s.pixels.clear();
    EXPECT_EQ(RefuseBmp(s).message, sides);
    s = ok;
    s.width = 65536;
    s.height = 1;
    s.pixels = Fill(65536, {0, 0, 0});
    EXPECT_EQ(RefuseBmp(s).message, sides);
    s = ok;
    s.bitCount = 32;
    EXPECT_EQ(RefuseBmp(s).message, "Couldn't load \"x.bmp\". Only 24 bit BMP files supported.");
    s = ok;
    s.compression = 1;
    EXPECT_EQ(RefuseBmp(s).message, "Couldn't load \"x.bmp\". Compressed BMP files not supported.");
    s = ok;
    s.sizeImage = 15;  // the padded rows need 16
    EXPECT_EQ(RefuseBmp(s).message, "Couldn't load \"x.bmp\". Bitmap data size is smaller than its rows.");

    TImage image;
    TImageRefusal refusal;
    std::string bytes = BmpBytes(ok);
    EXPECT_FALSE(DecodeBMP(bytes.substr(0, bytes.size() - 1), "x.bmp", image, refusal));
    EXPECT_EQ(refusal.message, "Error reading bitmap data");
    s = ok;
    s.sizeImage = 17;  // one byte more than the file holds after bfOffBits
    EXPECT_FALSE(DecodeBMP(BmpBytes(s), "x.bmp", image, refusal));
    EXPECT_EQ(refusal.message, "Error reading bitmap data");
    s.sizeImage = 0xFFFFFFF0u;
    EXPECT_FALSE(DecodeBMP(BmpBytes(s), "x.bmp", image, refusal));
    EXPECT_EQ(refusal.message, "Error reading bitmap data");
    EXPECT_FALSE(DecodeBMP(bytes.substr(0, 53), "x.bmp", image, refusal));
    EXPECT_EQ(refusal.message, "Error reading bitmap header");
    std::string palette = bytes;
    palette[46] = char(0xff);  // biClrUsed far beyond the file
    EXPECT_FALSE(DecodeBMP(palette, "x.bmp", image, refusal));
    EXPECT_EQ(refusal.message, "Error reading palette");
    std::string offset = bytes;
    offset[10] = 20;  // bfOffBits inside the headers
    EXPECT_FALSE(DecodeBMP(offset, "x.bmp", image, refusal));
    EXPECT_EQ(refusal.message, "Error reading bitmap data");
    EXPECT_EQ(refusal.caption, "BMP Unit");
}

TEST(DecodeJPG, ThreeByTwoGivesTheBottomRowFirstWithAlpha) {
    // Top row red, green, blue; bottom row white, black, grey.
    std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128};
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeJPG(JpegBytes(3, 2, 3, rgb), "x.jpg", image, refusal));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.channels, 4);
    ASSERT_EQ(image.pixels.size(), 24u);
    const uint8_t* p = image.pixels.data();
    ExpectNear(p + 0, 255, 255, 255);
    ExpectNear(p + 4, 0, 0, 0);
    ExpectNear(p + 8, 128, 128, 128);
    ExpectNear(p + 12, 255, 0, 0, 12);
    ExpectNear(p + 16, 0, 255, 0, 12);
    ExpectNear(p + 20, 0, 0, 255, 12);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p[4 * i + 3], 255);
}

TEST(DecodeJPG, GreyscaleAndCmykComeOutAsRgb) {
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeJPG(JpegBytes(2, 1, 1, {40, 200}), "g.jpg", image, refusal));
    EXPECT_EQ(image.channels, 4);
    ExpectNear(image.pixels.data(), 40, 40, 40, 2);
    ExpectNear(image.pixels.data() + 4, 200, 200, 200, 2);
    EXPECT_EQ(image.pixels[3], 255);
    // Adobe CMYK, inverted: red is no cyan ink (255), full magenta and yellow (0), no black (255).
    std::vector<uint8_t> cmyk = {255, 0, 0, 255, 255, 255, 255, 0};  // red, then full black
    ASSERT_TRUE(DecodeJPG(JpegBytes(2, 1, 4, cmyk), "c.jpg", image, refusal));
    ExpectNear(image.pixels.data(), 255, 0, 0, 4);
    ExpectNear(image.pixels.data() + 4, 0, 0, 0, 4);
}

TEST(DecodeJPG, AnyFailureIsTheOneMessage) {
    const std::string good = JpegBytes(16, 16, 3, std::vector<uint8_t>(16 * 16 * 3, 90));
    const std::string message = "Couldn't load JPG - \"x.jpg\"";
    for (const std::string& bytes : {std::string(), std::string("not a jpeg at all"), good.substr(0, good.size() / 2),
                                     good.substr(0, 2), std::string(good).replace(4, 40, 40, '\xff')}) {
        TImage image;
        TImageRefusal refusal;
        EXPECT_FALSE(DecodeJPG(bytes, "x.jpg", image, refusal));
        EXPECT_EQ(refusal.caption, "BMP Unit");
        EXPECT_EQ(refusal.message, message);
        EXPECT_TRUE(image.pixels.empty());
    }
}

TEST(DecodeImageFile, MissingFilesGiveEachReadersMessage) {
    TTempDir dir;
    TImage image;
    TImageRefusal refusal;
    EXPECT_FALSE(DecodeImageFile(dir.file("a.bmp"), image, refusal));
    EXPECT_EQ(refusal.caption, "BMP Unit");
    EXPECT_EQ(refusal.message, "Error opening " + dir.file("a.bmp"));
    EXPECT_FALSE(DecodeImageFile(dir.file("a.jpg"), image, refusal));
    EXPECT_EQ(refusal.caption, "BMP Unit");
    EXPECT_EQ(refusal.message, "Couldn't load JPG - \"" + dir.file("a.jpg") + "\"");
    EXPECT_FALSE(DecodeImageFile(dir.file("a.tga"), image, refusal));
    EXPECT_EQ(refusal.caption, "TGA Texture");
    EXPECT_EQ(refusal.message, "File not found  - " + dir.file("a.tga"));
    // A folder by that name: there, but not readable as a file.
    EXPECT_FALSE(DecodeImageFile(dir.path() + "/.", image, refusal));
    EXPECT_EQ(refusal.caption, "");
    std::string folder = dir.file("d.tga");
    std::system(("mkdir " + folder).c_str());
    EXPECT_FALSE(DecodeImageFile(folder, image, refusal));
    EXPECT_EQ(refusal.caption, "TGA File Error");
    EXPECT_EQ(refusal.message, "Couldn't read file \"" + folder + "\".");
    // No reader for the name: nothing to say.
    WriteFile(dir.file("a.jpeg"), JpegBytes(1, 1, 1, {0}));
    EXPECT_FALSE(DecodeImageFile(dir.file("a.jpeg"), image, refusal));
    EXPECT_EQ(refusal.caption, "");
    EXPECT_EQ(refusal.message, "");
}

TEST(DecodeImageFile, ReadsByExtensionWhateverTheLetterCase) {
    TTempDir dir;
    WriteFile(dir.file("a.b.Jpg"), JpegBytes(2, 2, 1, {9, 9, 9, 9}));
    TImage image;
    TImageRefusal refusal;
    ASSERT_TRUE(DecodeImageFile(dir.file("a.b.Jpg"), image, refusal));
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.channels, 4);
}

// Damaged files of every format: each decoder either refuses or returns an image
// whose buffer holds exactly its rows (the sanitizer build checks every access).
TEST(DecodeAll, MutatedFilesNeverReadOutsideTheirBytes) {
    std::vector<std::pair<std::string, bool (*)(std::string_view, const std::string&, TImage&, TImageRefusal&)>> seeds;
    TBmpSpec bmp = Bmp(5, 3, Fill(15, {9, 8, 7}));
    TTgaSpec tga = Tga(5, 3, Fill(15, {9, 8, 7}));
    tga.imageId = "id";
    std::vector<uint8_t> rgb(8 * 8 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7);
    seeds.push_back({BmpBytes(bmp), &DecodeBMP});
    seeds.push_back({TgaBytes(tga), &DecodeTGA});
    seeds.push_back({JpegBytes(8, 8, 3, rgb), &DecodeJPG});
    seeds.push_back({JpegBytes(8, 8, 4, std::vector<uint8_t>(8 * 8 * 4, 100)), &DecodeJPG});
    uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (auto& [seed, decode] : seeds) {
        for (int round = 0; round < 1500; ++round) {
            std::string bytes = seed;
            const int edits = 1 + int(next() % 4);
            for (int e = 0; e < edits; ++e) {
                const uint32_t r = next();
                if (r % 5 == 0 && !bytes.empty())
                    bytes.resize(next() % bytes.size());
                else if (!bytes.empty())
                    bytes[next() % bytes.size()] = char(r >> 24);
            }
            TImage image;
            TImageRefusal refusal;
            if (decode(bytes, "m", image, refusal)) {
                const size_t row = image.alignment == 4 ? (size_t(image.width) * image.channels + 3) / 4 * 4
                                                        : size_t(image.width) * image.channels;
                ASSERT_EQ(image.pixels.size(), row * size_t(image.height));
            } else {
                ASSERT_FALSE(refusal.message.empty());
            }
        }
    }
}
