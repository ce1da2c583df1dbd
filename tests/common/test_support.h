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

void WriteFile(const std::string& path, const std::string& bytes);
// Single-quoted for the shell.
std::string Quote(const std::string& s);

// A program's exit status (-1 when a signal ended it) and what it wrote.
struct TRun {
    int status = -1;
    std::string out, err;
};
// Runs program with args (already quoted) through the shell, standard output and error
// caught in files of dir.
TRun RunProgram(const std::string& program, const std::string& args, const TTempDir& dir);
// The text up to its first line break.
std::string FirstLine(const std::string& text);
std::string ReadFile(const std::string& path);

}  // namespace kgl::test
