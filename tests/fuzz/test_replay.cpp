// Replays every seed of the fuzz corpus and every regression input (regressions/<target>/,
// each file named after the bug it pinned down) through the checks the fuzzers run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "binary_readers.h"
#include "fuzz_checks.h"
#include "image_decode.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct TBroken : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void ThrowBroken(const char* what) { throw TBroken(what); }

std::vector<fs::path> Inputs(const std::string& target) {
    std::vector<fs::path> files;
    for (const char* folder : {"corpus", "regressions"}) {
        fs::path dir = fs::path(KGL_FUZZ_DIR) / folder / target;
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void Replay(const std::string& target, void (*check)(const std::string&, const uint8_t*, size_t),
            const std::string& extension) {
    kgl::fuzz::SetFailHandler(ThrowBroken);
    std::vector<fs::path> files = Inputs(target);
    EXPECT_FALSE(files.empty()) << "no inputs for " << target;
    for (const fs::path& file : files) {
        std::string bytes = kgl::test::ReadFile(file.string());
        try {
            check(extension, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const TBroken& e) {
            ADD_FAILURE() << file.filename().string() << ": " << e.what();
        }
    }
    kgl::fuzz::SetFailHandler(nullptr);
}

void Obj(const std::string&, const uint8_t* d, size_t n) { kgl::fuzz::CheckObjInput(d, n); }
void Kgm(const std::string&, const uint8_t* d, size_t n) { kgl::fuzz::CheckKgmInput(d, n); }
void RoundTrip(const std::string&, const uint8_t* d, size_t n) { kgl::fuzz::CheckRoundTrip(d, n); }
void Import(const std::string&, const uint8_t* d, size_t n) { kgl::fuzz::CheckImportBoundary(d, n); }
void Binary(const std::string&, const uint8_t* d, size_t n) { kgl::fuzz::CheckBinaryReaders(d, n); }
void Image(const std::string& ext, const uint8_t* d, size_t n) { kgl::fuzz::CheckImageInput(ext, d, n); }

}  // namespace

TEST(FuzzReplay, ObjInputs) { Replay("obj", Obj, ""); }
TEST(FuzzReplay, KgmInputs) { Replay("kgm", Kgm, ""); }
TEST(FuzzReplay, RoundTripInputs) { Replay("roundtrip", RoundTrip, ""); }
TEST(FuzzReplay, ImportInputs) { Replay("import", Import, ""); }
TEST(FuzzReplay, BinaryReaderInputs) { Replay("binary", Binary, ""); }
TEST(FuzzReplay, BmpInputs) { Replay("bmp", Image, ".bmp"); }
TEST(FuzzReplay, TgaInputs) { Replay("tga", Image, ".tga"); }
TEST(FuzzReplay, JpegInputs) { Replay("jpeg", Image, ".jpg"); }

// Every seed must itself be accepted, or the fuzzers start from refusals only.
TEST(FuzzReplay, EverySeedLoads) {
    kgl::test::TMessageRecorder messages;
    for (const char* target : {"obj", "kgm"}) {
        for (const auto& entry : fs::directory_iterator(fs::path(KGL_FUZZ_DIR) / "corpus" / target)) {
            std::string bytes = kgl::test::ReadFile(entry.path().string());
            kgl::TKGLModel model;
            bool loaded = std::string(target) == "obj" ? kgl::LoadOBJFromMemory(model, bytes)
                                                       : kgl::LoadKGMFromMemory(model, bytes);
            EXPECT_TRUE(loaded) << entry.path().filename().string() << ": " << messages.lastText();
        }
    }
    // every seed of the binary readers is one of theirs
    for (const auto& entry : fs::directory_iterator(fs::path(KGL_FUZZ_DIR) / "corpus" / "binary")) {
        const std::string bytes = kgl::test::ReadFile(entry.path().string());
        kgl::TGeometry geometry;
        kgl::TSceneSkipped skipped;
        const std::string ext = entry.path().extension().string();
        EXPECT_EQ(ext == ".stl"   ? kgl::ReadBinarySTL(bytes, geometry, nullptr)
                  : ext == ".ply" ? kgl::ReadBinaryPLY(bytes, geometry, skipped, nullptr)
                                  : kgl::ReadBinaryGLB(bytes, geometry, nullptr),
                  kgl::TBinaryRead::kRead)
            << entry.path().filename().string();
    }
    for (const char* target : {"bmp", "tga", "jpeg"}) {
        for (const auto& entry : fs::directory_iterator(fs::path(KGL_FUZZ_DIR) / "corpus" / target)) {
            kgl::TImage image;
            kgl::TImageRefusal refusal;
            EXPECT_TRUE(kgl::DecodeImageFile(entry.path().string(), image, refusal))
                << entry.path().filename().string() << ": " << refusal.caption << ": " << refusal.message;
        }
    }
}
