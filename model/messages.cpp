#include "messages.h"

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

}  // namespace kgl
