#pragma once
// Helpers shared by the test programs.
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
// The OBJ files of Debian's assimp-testmodels (models of many exporters), sorted; empty
// when the package is not installed.
std::vector<std::string> AssimpObjFiles();
// The text up to its first line break.
std::string FirstLine(const std::string& text);
std::string ReadFile(const std::string& path);

}  // namespace kgl::test
