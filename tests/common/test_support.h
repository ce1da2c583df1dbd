#pragma once
// Helpers shared by the test programs.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "KGLModel.h"
#include "messages.h"

namespace kgl::test {

// Records every message of the model core while it lives, instead of showing it.
class TMessageRecorder {
public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    struct TEntry {
        std::string caption;
        std::string text;
    };
    std::vector<TEntry> entries;
    size_t count() const { return entries.size(); }
    const std::string& lastText() const;

private:
    TMessageHandler previous_;
};

// A fresh folder under the system's temporary folder, removed with the object.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A refusal as the user reads it: one line, or a load failure's two, the system's text
// and then where it is ("in ..."); a final line break is allowed.
bool IsRefusalText(const std::string& text);

void WriteFile(const std::string& path, const std::string& bytes);
// Single-quoted for the shell.
std::string Quote(const std::string& s);

// A program's exit status (-1 when a signal ended it) and what it wrote.
struct TRun {
    int status = -1;
    std::string out, err;
};
// Runs program with args (already quoted) through the shell, standard output and error
// caught in files of dir; env: variable settings put before it ("LC_ALL=C ").
TRun RunProgram(const std::string& program, const std::string& args, const TTempDir& dir, const std::string& env = "");
// The files of Debian's assimp-testmodels (models of many exporters) under its folder
// `folder` ("OBJ", "glTF2", ...) and its subfolders whose lower-cased extension is one of
// extensions, sorted. Throws (so the test fails) when there is none: the package is
// installed by scripts/install-deps.sh, and a test must not pass on nothing.
std::vector<std::string> AssimpModelFiles(const std::string& folder, const std::vector<std::string>& extensions);
std::vector<std::string> AssimpObjFiles();
// Runs fn in a forked child and returns its exit status (fn's result), or 128 + the
// signal that ended it. When addressSpaceGrowth is not 0 the child's address space may
// grow by at most that many bytes beyond what it holds at the fork (not under the
// sanitizers, whose shadow memory needs terabytes of address space).
int RunInChild(const std::function<int()>& fn, uint64_t addressSpaceGrowth = 0);
// The text up to its first line break.
std::string FirstLine(const std::string& text);
std::string ReadFile(const std::string& path);

}  // namespace kgl::test
