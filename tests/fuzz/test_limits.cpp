// Reading limits: a hostile file fails with one clear message, in memory it pays for.
// Peak memory is read from the kernel (ru_maxrss): the input is built first, so only
// what the reader itself takes while refusing counts against the bound.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "KGLModel.h"
#include "image_decode.h"
#include "test_support.h"

namespace {

using kgl::test::TMessageRecorder;

long PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// What a refusing reader may take beyond what the process already peaked at.
constexpr long kRefusalBudgetMb = 200;

void ExpectOneShortMessage(const TMessageRecorder& messages, const std::string& context) {
    ASSERT_EQ(messages.count(), 1u) << context;
    const std::string& text = messages.lastText();
    EXPECT_EQ(text.rfind("Exception Name: ", 0), 0u) << context << ": " << text.substr(0, 200);
    EXPECT_TRUE(kgl::test::IsRefusalText(text)) << context;
    EXPECT_LE(text.size(), 400u) << context << ": a message that quotes the hostile text whole";
}

std::string Seed(const std::string& target, const std::string& name) {
    return kgl::test::ReadFile(std::string(KGL_FUZZ_DIR) + "/corpus/" + target + "/" + name);
}

void PutInt32(std::string& bytes, size_t offset, int32_t value) {
    ASSERT_LE(offset + 4, bytes.size());
    uint32_t u = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

// ---- OBJ ----

TEST(ObjLimits, FaceLineOfTwentyMillionCornersIsRefusedByTheLineLimit) {
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf";
    text.reserve(text.size() + 40'000'010);
    for (int i = 0; i < 20'000'000; ++i) text += " 1";
    text += "\n";
    long before = PeakRssMb();
    TMessageRecorder messages;
    kgl::TKGLModel model;
    EXPECT_FALSE(kgl::LoadOBJFromMemory(model, text));
    ExpectOneShortMessage(messages, "40 MB face line");
    EXPECT_NE(messages.lastText().find("\nin memory, line 4"), std::string::npos) << messages.lastText().substr(0, 200);
    EXPECT_LE(PeakRssMb() - before, kRefusalBudgetMb);
}

TEST(ObjLimits, LongLineInAFileIsRefusedWithoutHoldingIt) {
    // The file reader streams in blocks; a line without end must not grow its buffer
    // to the size of the file.
    kgl::test::TTempDir dir;
    const std::string path = dir.file("long.obj");
    {
        std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf";
        for (int i = 0; i < 30'000'000; ++i) text += " 2";
        kgl::test::WriteFile(path, text);
    }
    long before = PeakRssMb();
    TMessageRecorder messages;
    kgl::TKGLModel model;
    EXPECT_FALSE(kgl::LoadOBJ(model, path));
    ExpectOneShortMessage(messages, "60 MB face line in a file");
    EXPECT_NE(messages.lastText().find("\nin \"" + path + "\", line 4"), std::string::npos)
        << messages.lastText().substr(0, 200);
    EXPECT_LE(PeakRssMb() - before, 64);
}

// Long texts are refused with a short message: a 40 MB comment line by the line limit
// (a reader that streams must never hold an unbounded line, whatever it says), a
// million-digit number or index by its conversion, quoted short.
TEST(ObjLimits, LongTextsAreRefusedWithShortMessages) {
    const struct {
        const char* context;
        std::string text;
        const char* className;
    } cases[] = {
        {"40 MB comment line", "# " + std::string(40'000'000, 'x') + "\nv 0 0 0\n", "EReadError"},
        {"a million-digit number", "v 1 2 " + std::string(1'000'000, '7') + "\n", "EConvertError"},
        {"a million-digit index", "v 0 0 0\nf 1 1 " + std::string(1'000'000, '9') + "\n", "EConvertError"},
    };
    for (const auto& c : cases) {
        TMessageRecorder messages;
        kgl::TKGLModel model;
        EXPECT_FALSE(kgl::LoadOBJFromMemory(model, c.text)) << c.context;
        ExpectOneShortMessage(messages, c.context);
        EXPECT_NE(messages.lastText().find(c.className), std::string::npos) << messages.lastText().substr(0, 200);
    }
}

TEST(ObjLimits, LineJustUnderTheLimitStillLoads) {
    // A face of 400,000 corners (about 2.4 MB): unusual, but an OBJ file may hold it.
    std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf";
    for (int i = 0; i < 400'000; ++i) text += i % 3 == 0 ? " 1/1" : i % 3 == 1 ? " 2/1" : " 3/1";
    text = "vt 0 0\n" + text + "\n";
    TMessageRecorder messages;
    kgl::TKGLModel model;
    EXPECT_TRUE(kgl::LoadOBJFromMemory(model, text)) << messages.lastText().substr(0, 200);
    ASSERT_EQ(model.fCount, 1);
    EXPECT_EQ(model.groups[0].faces[1].count, 400'000);
}

// A load takes at most kObjMemoryPerFileByte bytes per byte of its file (and a fixed
// allowance): the densest real statement, a triangle of one-digit indices, loads within
// it; a file of a million bare g lines (about 300 bytes of model for each 2-byte line)
// is refused after the counting pass, before any model-sized table exists. Each file is
// loaded in a child whose address space may grow by no more than that bound, so a load
// that needs more fails there instead of passing on a loose threshold.
TEST(ObjLimits, LoadMemoryStaysWithinItsShareOfTheFile) {
    kgl::test::TTempDir dir;
    struct TCase {
        const char* name;
        std::string text;
        bool loads;
    };
    std::string faces = "v 0 0 0\nv 1 0 0\nv 0 1 0\n", groups;
    for (int i = 0; i < 1'000'000; ++i) faces += "f 1 2 3\n";
    for (int i = 0; i < 1'000'000; ++i) groups += "g\n";
    // the refusal first: the peak only ever grows, so the smaller case is measured first
    for (const TCase& c : {TCase{"groups.obj", std::move(groups), false}, TCase{"faces.obj", std::move(faces), true}}) {
        const std::string path = dir.file(c.name);
        kgl::test::WriteFile(path, c.text);
        const uint64_t bound = kgl::kObjMemoryPerFileByte * c.text.size() + kgl::kObjMemoryAllowance;
        const std::string said = dir.file("message.txt");
        const int status = kgl::test::RunInChild(
            [&] {
                TMessageRecorder messages;
                kgl::TKGLModel model;
                const bool loaded = kgl::LoadOBJ(model, path);
                kgl::test::WriteFile(said, messages.count() ? messages.lastText() : "");
                return loaded && model.fCount == 1'000'000 ? 0 : 1;
            },
            bound);
        const std::string message = kgl::test::ReadFile(said);
        EXPECT_EQ(status, c.loads ? 0 : 1) << c.name << ": " << message;
        if (!c.loads) {
            EXPECT_NE(message.find("1000000 groups"), std::string::npos) << message;
        }

        // in this process: the refusal comes before the model is sized
        const long before = PeakRssMb();
        TMessageRecorder messages;
        kgl::TKGLModel model;
        EXPECT_EQ(kgl::LoadOBJ(model, path), c.loads) << c.name;
        const long used = PeakRssMb() - before;
        if (!c.loads) {
            ExpectOneShortMessage(messages, c.name);
            EXPECT_NE(messages.lastText().find("EOutOfMemory"), std::string::npos) << messages.lastText();
            EXPECT_LE(used, 32) << c.name << ": the refusal must come before the model is sized";
        }
        std::printf("%s: %zu bytes, %ld MB peak, bound %llu MB\n", c.name, c.text.size(), used,
                    static_cast<unsigned long long>(bound >> 20));
    }
}

// ---- KGM ----
// Offsets into corpus/kgm/triangle.kgm (see make_corpus.py): the six counts of the
// header, the group's fCount, and face 1's corner count and list lengths.
constexpr size_t kCountOffsets[] = {363, 367, 371, 375, 379, 383, 774, 808, 824, 840};

TEST(KgmLimits, CountsThatClaimMoreRecordsThanTheFileHasAreRefused) {
    const std::string seed = Seed("kgm", "triangle.kgm");
    {
        TMessageRecorder messages;
        kgl::TKGLModel model;
        ASSERT_TRUE(kgl::LoadKGMFromMemory(model, seed)) << messages.lastText();
        ASSERT_EQ(model.groups[0].faces[1].count, 3);
    }
    for (size_t offset : kCountOffsets) {
        for (int32_t value : {INT32_MAX, INT32_MAX / 20, 50'000'000, 1'000'000, -2, INT32_MIN}) {
            std::string bytes = seed;
            PutInt32(bytes, offset, value);
            long before = PeakRssMb();
            TMessageRecorder messages;
            kgl::TKGLModel model;
            std::string context = "offset " + std::to_string(offset) + " = " + std::to_string(value);
            EXPECT_FALSE(kgl::LoadKGMFromMemory(model, bytes)) << context;
            ExpectOneShortMessage(messages, context);
            EXPECT_LE(PeakRssMb() - before, kRefusalBudgetMb) << context;
        }
    }
}

// ---- images ----

struct TImageCase {
    const char* name;
    std::string bytes;
};

std::string TgaHeader(int type, int width, int height, int bits, int idLength = 0) {
    std::string h(18, '\0');
    h[0] = static_cast<char>(idLength);
    h[2] = static_cast<char>(type);
    h[12] = static_cast<char>(width & 0xFF);
    h[13] = static_cast<char>(width >> 8);
    h[14] = static_cast<char>(height & 0xFF);
    h[15] = static_cast<char>(height >> 8);
    h[16] = static_cast<char>(bits);
    return h;
}

std::string BmpWith(int32_t width, int32_t height, uint32_t sizeImage, uint32_t clrUsed, uint32_t offBits = 54) {
    std::string b = Seed("bmp", "red4x4.bmp");
    PutInt32(b, 10, static_cast<int32_t>(offBits));
    PutInt32(b, 18, width);
    PutInt32(b, 22, height);
    PutInt32(b, 34, static_cast<int32_t>(sizeImage));
    PutInt32(b, 46, static_cast<int32_t>(clrUsed));
    return b;
}

// A seed JPEG with the frame header's (baseline or progressive) height and width replaced.
std::string JpegWithSize(int height, int width, const char* seed = "rgb3x2.jpg") {
    std::string j = Seed("jpeg", seed);
    for (size_t i = 2; i + 9 < j.size(); ++i) {
        if (static_cast<uint8_t>(j[i]) == 0xFF &&
            (static_cast<uint8_t>(j[i + 1]) == 0xC0 || static_cast<uint8_t>(j[i + 1]) == 0xC2)) {
            j[i + 5] = static_cast<char>(height >> 8);
            j[i + 6] = static_cast<char>(height & 0xFF);
            j[i + 7] = static_cast<char>(width >> 8);
            j[i + 8] = static_cast<char>(width & 0xFF);
            return j;
        }
    }
    ADD_FAILURE() << seed << " has no frame header";
    return j;
}

TEST(ImageLimits, SizesThatTheFileCannotHoldAreRefusedInBoundedMemory) {
    const TImageCase cases[] = {
        {"huge.tga", TgaHeader(2, 65535, 65535, 24) + std::string(30, '\x55')},
        {"huge_id.tga", TgaHeader(2, 2, 2, 24, 255) + std::string(12, '\x55')},
        {"huge.bmp", BmpWith(65535, 65535, 0, 0)},
        {"huge_palette.bmp", BmpWith(4, 4, 0, 0xFFFFFFFFu)},
        {"huge_offset.bmp", BmpWith(4, 4, 0, 0, 0xFFFFFFF0u)},
        {"overflowing.bmp", BmpWith(0x40000000, 4, 0, 0)},
        {"huge.jpg", JpegWithSize(65500, 65500)},
        {"huge_progressive.jpg", JpegWithSize(65500, 65500, "progressive16x9.jpg")},
        {"big_progressive.jpg", JpegWithSize(16000, 16000, "progressive16x9.jpg")},
    };
    kgl::test::TTempDir dir;
    for (const TImageCase& c : cases) {
        std::string path = dir.file(c.name);
        kgl::test::WriteFile(path, c.bytes);
        long before = PeakRssMb();
        kgl::TImage image;
        kgl::TImageRefusal refusal;
        EXPECT_FALSE(kgl::DecodeImageFile(path, image, refusal)) << c.name;
        EXPECT_FALSE(refusal.caption.empty()) << c.name;
        EXPECT_FALSE(refusal.message.empty()) << c.name;
        EXPECT_EQ(refusal.message.find_first_of("\r\n"), std::string::npos) << c.name;
        EXPECT_LE(PeakRssMb() - before, kRefusalBudgetMb) << c.name;
    }
}

// Bug: a 669-byte progressive JPEG whose frame header claims
// 65500 x 65500 pixels made libjpeg allocate and clear 12 GB of coefficients (94 s)
// before the pixel limit was looked at.
TEST(ImageLimits, JpegHugeProgressiveHeaderIsRefusedBeforeDecoding) {
    std::string bytes = JpegWithSize(65500, 65500, "progressive16x9.jpg");
    long before = PeakRssMb();
    kgl::TImage image;
    kgl::TImageRefusal refusal;
    EXPECT_FALSE(kgl::DecodeJPG(bytes, "huge.jpg", image, refusal));
    EXPECT_EQ(refusal.message, "Couldn't load JPG - \"huge.jpg\"");
    EXPECT_LE(PeakRssMb() - before, kRefusalBudgetMb);
}

// Bug, found by fuzz_jpeg (regressions/jpeg/progressive_header_larger_than_its_data.jpg,
// a 290-byte progressive file claiming 32528 x 3840 pixels: 13 s): a frame header
// larger than its data decoded "successfully" to a grey texture of up to a gigabyte,
// libjpeg's "premature end of data segment" being only a warning. Data that ends
// before the image does is a damaged file.
TEST(ImageLimits, JpegWhoseDataEndsBeforeTheImageIsRefused) {
    for (const char* seed : {"rgb3x2.jpg", "progressive16x9.jpg"}) {
        std::string bytes = JpegWithSize(1000, 1000, seed);
        kgl::TImage image;
        kgl::TImageRefusal refusal;
        EXPECT_FALSE(kgl::DecodeJPG(bytes, "short.jpg", image, refusal)) << seed;
        EXPECT_EQ(refusal.caption, "BMP Unit") << seed;
    }
}

TEST(ImageLimits, BmpSizeImageBeyondTheFileIsNotAllocated) {
    // biSizeImage only has to cover the rows; a larger claim must not be what is allocated.
    kgl::test::TTempDir dir;
    const std::string path = dir.file("huge_sizeimage.bmp");
    kgl::test::WriteFile(path, BmpWith(4, 4, 0xFFFFFFF0u, 0));
    long before = PeakRssMb();
    kgl::TImage image;
    kgl::TImageRefusal refusal;
    if (kgl::DecodeImageFile(path, image, refusal)) {
        EXPECT_EQ(image.width, 4);
        EXPECT_LE(image.pixels.size(), 64u);
    }
    EXPECT_LE(PeakRssMb() - before, kRefusalBudgetMb);
}

}  // namespace

namespace {

// Bug, found by fuzz_kgm (regressions/kgm/header_face_count_differs_from_groups.kgm):
// a header fCount larger than the groups' faces was taken as long as trailing bytes
// could have held them, and the model then saved to a file that does not load.
TEST(KgmLimits, HeaderFaceCountMustBeTheGroupsOwn) {
    std::string bytes = Seed("kgm", "triangle.kgm") + std::string(200, '\0');
    PutInt32(bytes, 379, 3);  // the one group holds 1 face
    TMessageRecorder messages;
    kgl::TKGLModel model;
    EXPECT_FALSE(kgl::LoadKGMFromMemory(model, bytes));
    ExpectOneShortMessage(messages, "fCount 3 over 1 face");
    EXPECT_NE(messages.lastText().find("face count 3"), std::string::npos) << messages.lastText();
    // Trailing bytes after the last group are no fault in themselves.
    PutInt32(bytes, 379, 1);
    EXPECT_TRUE(kgl::LoadKGMFromMemory(model, bytes)) << messages.lastText();
}

}  // namespace
