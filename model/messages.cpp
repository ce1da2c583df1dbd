#include "messages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "errors.h"

namespace kgl {

namespace {
TMessageHandler& Handler() {
    static TMessageHandler handler;
    return handler;
}
}  // namespace

TMessageHandler SetMessageHandler(TMessageHandler handler) {
    TMessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

void ShowMessage(const std::string& text, const std::string& caption) {
    if (Handler()) {
        Handler()(caption, text);
        return;
    }
    if (caption.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

std::string FormatExceptionText(const std::string& className, const std::string& message) {
    return "Exception Name: " + className + " Exception message: " + message;
}

std::string PlaceOf(const std::string& path) { return path.empty() ? "in memory" : "in \"" + path + "\""; }

std::string FormatExceptionText(const EModelError& e) {
    std::string text = FormatExceptionText(e.ClassName(), e.what());
    if (!e.Where().empty()) text += "\n" + e.Where();
    return text;
}

std::string QuoteText(std::string_view text, size_t maxLength) {
    const bool cut = text.size() > maxLength;
    if (cut) text = text.substr(0, maxLength);
    std::string quoted;
    quoted.reserve(text.size() + 3);
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            quoted += "\\x";
            quoted += kHex[u >> 4];
            quoted += kHex[u & 15];
        } else {
            quoted += c;
        }
    }
    if (cut) quoted += "...";
    return quoted;
}

int OpenRegularFile(const std::string& path, uint64_t& size) {
    auto refuse = [&](const std::string& why) {
        EInOutError e("Cannot read file \"" + QuoteText(path, path.size()) + "\": " + why);
        e.Locate(PlaceOf(path));
        throw e;
    };
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return -1;
        refuse(std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) refuse("it is a folder, not a file");
    if (!S_ISREG(st.st_mode)) refuse("it is not a regular file");
    // O_NONBLOCK: should the path become a FIFO between the two calls, open returns at once
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return -1;
        refuse(std::strerror(errno));
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        refuse("it is not a regular file");
    }
    size = static_cast<uint64_t>(st.st_size);
    return fd;
}

}  // namespace kgl
