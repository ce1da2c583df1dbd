#include "test_support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

std::vector<std::string> AssimpModelFiles(const std::string& folder, const std::vector<std::string>& extensions) {
    const std::filesystem::path dir = "/usr/share/assimp/models/" + folder;
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (entry.is_regular_file() && std::find(extensions.begin(), extensions.end(), ext) != extensions.end())
            files.push_back(entry.path().string());
    }
    // the tests that walk these files must not pass on nothing
    if (files.empty())
        throw std::runtime_error("no " + folder + " model in " + dir.string() +
                                 ": assimp-testmodels is missing (scripts/install-deps.sh installs it)");
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> AssimpObjFiles() { return AssimpModelFiles("OBJ", {".obj"}); }

int RunInChild(const std::function<int()>& fn, uint64_t addressSpaceGrowth) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
#if defined(__SANITIZE_ADDRESS__)
        (void)addressSpaceGrowth;
#else
        if (addressSpaceGrowth != 0) {
            unsigned long long pages = 0;
            if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
                std::fclose(statm);
            }
            const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + addressSpaceGrowth;
            const rlimit rl{limit, limit};
            if (setrlimit(RLIMIT_AS, &rl) != 0) _exit(120);
        }
#endif
        int code = 121;
        try {
            code = fn();
        } catch (...) {
        }
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace kgl::test
