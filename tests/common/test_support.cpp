#include "test_support.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace kgl::test {

TMessageRecorder::TMessageRecorder() {
    previous_ = SetMessageHandler([this](const std::string& caption, const std::string& text) {
        entries.push_back({caption, text});
    });
}

TMessageRecorder::~TMessageRecorder() { SetMessageHandler(std::move(previous_)); }

const std::string& TMessageRecorder::lastText() const {
    static const std::string none;
    return entries.empty() ? none : entries.back().text;
}

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kgltest-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool IsRefusalText(const std::string& text) {
    std::string_view t = text;
    if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
    const size_t nl = t.find('\n');
    if (t.empty() || nl == 0) return false;
    if (nl == std::string_view::npos) return true;
    const std::string_view where = t.substr(nl + 1);
    return where.rfind("in ", 0) == 0 && where.find('\n') == std::string_view::npos;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

TRun RunProgram(const std::string& program, const std::string& args, const TTempDir& dir, const std::string& env) {
    const std::string cmd =
        env + Quote(program) + " " + args + " >" + Quote(dir.file("out")) + " 2>" + Quote(dir.file("err"));
    const int raw = std::system(cmd.c_str());
    TRun r;
    if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    r.out = ReadFile(dir.file("out"));
    r.err = ReadFile(dir.file("err"));
    return r;
}

std::vector<std::string> AssimpObjFiles() {
    const std::filesystem::path folder = "/usr/share/assimp/models/OBJ";
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().extension() == ".obj") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace kgl::test
