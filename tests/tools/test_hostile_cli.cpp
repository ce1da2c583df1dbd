// kglmodel on a hostile corpus generated here: every truncation of a small KGM file,
// single-byte corruptions of a small OBJ file, images with impossible headers. Each run
// ends with exit status 0 or 1, never a signal or a crash status, and a refusal is one
// line on standard error (a load failure: that line and where it is); a refused convert
// leaves the existing output file alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "test_support.h"

namespace {

using kgl::test::ReadFile;
using kgl::test::TTempDir;
using kgl::test::WriteFile;

std::string Kglmodel() { return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kglmodel").string(); }

struct TRun {
    bool exited = false;
    int status = -1;  // exit status, or the signal number when !exited
    std::string err;
};

// Runs kglmodel with args; standard output is thrown away (a dump may be large),
// standard error is kept.
TRun RunKglmodel(const std::vector<std::string>& args) {
    static const std::string program = Kglmodel();
    int pipeFd[2];
    if (pipe(pipeFd) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        dup2(pipeFd[1], 2);
        close(pipeFd[0]);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFd[1]);
    TRun run;
    char buf[4096];
    for (ssize_t n; (n = read(pipeFd[0], buf, sizeof buf)) > 0;) run.err.append(buf, static_cast<size_t>(n));
    close(pipeFd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exited = WIFEXITED(status);
    run.status = run.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return run;
}

std::string Describe(const TRun& r) {
    std::string s = r.exited ? "exit " + std::to_string(r.status) : "signal " + std::to_string(r.status);
    return s + ", stderr: " + r.err.substr(0, 300);
}

bool RefusalLines(const std::string& text) {
    return !text.empty() && text.back() == '\n' && kgl::test::IsRefusalText(text);
}

// A refusal: status 1 and its line (and where).
void ExpectRefusal(const TRun& r, const std::string& context) {
    EXPECT_TRUE(r.exited && r.status == 1 && RefusalLines(r.err)) << context << ": " << Describe(r);
}

// Either a model (status 0, nothing on standard error) or a refusal.
void ExpectModelOrRefusal(const TRun& r, const std::string& context) {
    bool ok = r.exited && r.status == 0 && r.err.empty();
    bool refused = r.exited && r.status == 1 && RefusalLines(r.err);
    EXPECT_TRUE(ok || refused) << context << ": " << Describe(r);
}

std::string Seed(const std::string& target, const std::string& name) {
    return ReadFile(std::string(KGL_FUZZ_DIR) + "/corpus/" + target + "/" + name);
}

constexpr char kSentinel[] = "the file that was here before\n";

TEST(HostileCli, EveryTruncationOfAKgmFileIsRefused) {
    // The KGM bytes come from the writer itself, so every field is where the reader
    // looks for it.
    kgl::TKGLModel model;
    {
        kgl::test::TMessageRecorder messages;
        ASSERT_TRUE(kgl::LoadOBJFromMemory(model, Seed("obj", "triangle.obj"))) << messages.lastText();
    }
    kgl::Reduce(model, 0.0);
    const std::string kgm = kgl::SaveToKGMBytes(model);
    ASSERT_GT(kgm.size(), 387u);

    TTempDir dir;
    const std::string in = dir.file("cut.kgm"), outObj = dir.file("out.obj"), outKgm = dir.file("out.kgm");
    WriteFile(in, kgm);
    ASSERT_EQ(RunKglmodel({"dump", in}).status, 0) << Describe(RunKglmodel({"dump", in}));
    for (size_t n = 0; n < kgm.size(); ++n) {
        WriteFile(in, kgm.substr(0, n));
        const std::string context = "KGM cut to " + std::to_string(n) + " bytes";
        ExpectRefusal(RunKglmodel({"dump", in}), "dump, " + context);
        // convert on every eighth cut keeps the run short; its load is the same.
        if (n % 8 == 0) {
            WriteFile(outKgm, kSentinel);
            WriteFile(outObj, kSentinel);
            ExpectRefusal(RunKglmodel({"convert", in, outKgm}), "convert to KGM, " + context);
            ExpectRefusal(RunKglmodel({"convert", in, outObj, "--reduce", "0.5"}), "convert to OBJ, " + context);
            EXPECT_EQ(ReadFile(outKgm), kSentinel) << context;
            EXPECT_EQ(ReadFile(outObj), kSentinel) << context;
        }
        if (HasFailure()) break;  // one broken offset tells the story
    }
}

TEST(HostileCli, SingleByteCorruptionsOfAnObjFileNeverCrash) {
    const std::string obj = "g a\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\nf 1/1/1 2/1/1 3/1/1\nf -1 -2 -3\n";
    // Every byte value at every offset runs in-process (cheap); through the program,
    // values that change the grammar: ends of lines, separators, signs, digits, junk.
    {
        kgl::test::TMessageRecorder messages;
        for (size_t at = 0; at < obj.size(); ++at) {
            for (int value = 0; value < 256; ++value) {
                std::string text = obj;
                text[at] = static_cast<char>(value);
                size_t before = messages.count();
                kgl::TKGLModel m;
                bool loaded = kgl::LoadOBJFromMemory(m, text);
                size_t shown = messages.count() - before;
                EXPECT_EQ(shown, loaded ? 0u : 1u) << "byte " << at << " = " << value;
                if (loaded) {
                    kgl::Reduce(m, 0.5);
                    (void)kgl::SaveToKGMBytes(m);
                }
            }
        }
    }
    TTempDir dir;
    const std::string in = dir.file("bent.obj"), outKgm = dir.file("out.kgm"), outObj = dir.file("out.obj");
    for (size_t at = 0; at < obj.size(); ++at) {
        for (char value : {'\0', '\n', ' ', '/', '-', '0', '9', 'x', '\xff'}) {
            std::string text = obj;
            text[at] = value;
            WriteFile(in, text);
            const std::string context = "byte " + std::to_string(at) + " = " + std::to_string(uint8_t(value));
            TRun dump = RunKglmodel({"dump", in});
            ExpectModelOrRefusal(dump, "dump, " + context);
            if (value == '\xff' || value == '/') {
                WriteFile(outKgm, kSentinel);
                TRun conv = RunKglmodel({"convert", in, outKgm, "--optimize-texcoords"});
                ExpectModelOrRefusal(conv, "convert, " + context);
                if (conv.status == 1) {
                    EXPECT_EQ(ReadFile(outKgm), kSentinel) << context;
                }
                TRun toObj = RunKglmodel({"convert", in, outObj, "--reduce", "0.7"});
                ExpectModelOrRefusal(toObj, "convert to OBJ, " + context);
            }
        }
        if (HasFailure()) break;
    }
}

void PutLe(std::string& b, size_t at, uint32_t v, int width = 4) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Tga(int idLength, int mapType, int type, int width, int height, int bits, size_t data) {
    std::string h(18, '\0');
    h[0] = static_cast<char>(idLength);
    h[1] = static_cast<char>(mapType);
    h[2] = static_cast<char>(type);
    PutLe(h, 12, static_cast<uint32_t>(width), 2);
    PutLe(h, 14, static_cast<uint32_t>(height), 2);
    h[16] = static_cast<char>(bits);
    return h + std::string(data, '\x40');
}

TEST(HostileCli, ImagesWithImpossibleHeadersAreRefused) {
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes
    const std::string bmp = Seed("bmp", "red4x4.bmp");
    auto bmpWith = [&](const char* name, size_t at, uint32_t value, int width = 4) {
        std::string b = bmp;
        PutLe(b, at, value, width);
        files.emplace_back(name, b);
    };
    bmpWith("zero_width.bmp", 18, 0);
    bmpWith("zero_height.bmp", 22, 0);
    bmpWith("negative_width.bmp", 18, 0xFFFFFFFFu);
    bmpWith("width_70000.bmp", 18, 70000);
    bmpWith("height_70000.bmp", 22, 70000);
    bmpWith("min_height.bmp", 22, 0x80000000u);
    bmpWith("bits_32.bmp", 28, 32, 2);
    bmpWith("bits_0.bmp", 28, 0, 2);
    bmpWith("compressed.bmp", 30, 1);
    bmpWith("short_sizeimage.bmp", 34, 1);
    bmpWith("palette_4g.bmp", 46, 0xFFFFFFFFu);
    bmpWith("offset_past_end.bmp", 10, 0x7FFFFFFFu);
    bmpWith("side_65535.bmp", 18, 65535);
    for (size_t n : {0, 1, 2, 13, 14, 30, 53, 54, 60})
        files.emplace_back("cut_" + std::to_string(n) + ".bmp", bmp.substr(0, n));

    files.emplace_back("rle.tga", Tga(0, 0, 10, 2, 2, 24, 12));
    files.emplace_back("mapped.tga", Tga(0, 1, 1, 2, 2, 8, 4));
    files.emplace_back("map_on_type2.tga", Tga(0, 1, 2, 2, 2, 24, 12));
    files.emplace_back("bits_32.tga", Tga(0, 0, 2, 2, 2, 32, 16));
    files.emplace_back("bits_16.tga", Tga(0, 0, 2, 2, 2, 16, 8));
    files.emplace_back("zero_width.tga", Tga(0, 0, 2, 0, 2, 24, 12));
    files.emplace_back("zero_height.tga", Tga(0, 0, 2, 2, 0, 24, 12));
    files.emplace_back("huge.tga", Tga(0, 0, 2, 65535, 65535, 24, 12));
    files.emplace_back("id_past_end.tga", Tga(255, 0, 2, 2, 2, 24, 12));
    for (size_t n : {0, 1, 17})
        files.emplace_back("cut_" + std::to_string(n) + ".tga", Tga(0, 0, 2, 2, 2, 24, 12).substr(0, n));

    const std::string jpg = Seed("jpeg", "rgb3x2.jpg");
    files.emplace_back("empty.jpg", "");
    files.emplace_back("soi_only.jpg", jpg.substr(0, 2));
    files.emplace_back("not_a_jpeg.jpg", bmp);
    for (size_t n : {3, 20, 100}) files.emplace_back("cut_" + std::to_string(n) + ".jpg", jpg.substr(0, n));
    size_t sof = jpg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    auto jpgSize = [&](const char* name, int height, int width) {
        std::string j = jpg;
        j[sof + 5] = static_cast<char>(height >> 8);
        j[sof + 6] = static_cast<char>(height & 0xFF);
        j[sof + 7] = static_cast<char>(width >> 8);
        j[sof + 8] = static_cast<char>(width & 0xFF);
        files.emplace_back(name, j);
    };
    jpgSize("zero_width.jpg", 2, 0);
    jpgSize("zero_height.jpg", 0, 3);
    jpgSize("huge.jpg", 65500, 65500);
    std::string badComponents = jpg;
    badComponents[sof + 9] = 7;  // seven colour components
    files.emplace_back("seven_components.jpg", badComponents);

    TTempDir dir;
    for (const auto& [name, bytes] : files) {
        std::string path = dir.file(name);
        WriteFile(path, bytes);
        TRun r = RunKglmodel({"image", path});
        ExpectRefusal(r, name);
        // BMP and JPEG refusals carry the "BMP Unit" caption; TGA ones have several.
        if (name.substr(name.size() - 4) != ".tga") {
            EXPECT_EQ(r.err.rfind("BMP Unit: ", 0), 0u) << name << ": " << r.err;
        }
    }
}

}  // namespace
