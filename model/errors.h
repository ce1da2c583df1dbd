#pragma once
// Failures of the model core. Every failure that a file can cause is one of these
// classes; the operation that owns the user-visible result catches it and shows
// FormatExceptionText(error) through the message service (messages.h): the system's
// one-line text, then, when the reader knows it, a second line saying where
// ("in \"PATH\", line N" for OBJ text, "in \"PATH\", BLOCK" for KGM).
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kgl {

class EModelError : public std::runtime_error {
public:
    EModelError(std::string className, const std::string& message)
        : std::runtime_error(message), className_(std::move(className)) {}
    const std::string& ClassName() const noexcept { return className_; }
    // Where the failure is, without line break; empty when unknown.
    const std::string& Where() const noexcept { return where_; }
    // Sets Where() unless an inner reader already did.
    void Locate(std::string where) {
        if (where_.empty()) where_ = std::move(where);
    }

private:
    std::string className_;
    std::string where_;
};

// A number or index whose text cannot be converted.
struct EConvertError : EModelError {
    explicit EConvertError(const std::string& m) : EModelError("EConvertError", m) {}
};
// The file system refused an open, read or write.
struct EInOutError : EModelError {
    explicit EInOutError(const std::string& m) : EModelError("EInOutError", m) {}
};
// A file's contents do not fit its format (truncated, wrong magic, bad counts).
struct EReadError : EModelError {
    explicit EReadError(const std::string& m) : EModelError("EReadError", m) {}
};
// An index that addresses no entry of its table.
struct ERangeError : EModelError {
    explicit ERangeError(const std::string& m) : EModelError("ERangeError", m) {}
};

// Memory a file would need, or that could not be had.
struct EOutOfMemory : EModelError {
    explicit EOutOfMemory(const std::string& m) : EModelError("EOutOfMemory", m) {}
};

// The user stopped the work (progress.h). Never shown: whoever asked for the stop knows.
struct ECancelled : EModelError {
    ECancelled() : EModelError("ECancelled", "Cancelled") {}
};

// The start of a failure's second line: "in \"PATH\"", or "in memory" for an empty path
// (a reader of bytes in memory).
std::string PlaceOf(const std::string& path);

// Text of a file quoted in a message: at most maxLength bytes of it (then "..."), with
// every control byte (below 0x20, and 0x7F) written as \xHH, so that a NUL cannot cut
// the message short and no byte of the file steers the terminal or the dialog.
std::string QuoteText(std::string_view text, size_t maxLength);

// Runs work(); a failure of the model core that knows no place yet learns where, and
// running out of memory (std::bad_alloc) becomes EOutOfMemory "Out of memory" there:
// the one place where an allocation failure becomes the core's own.
// LocatedBy takes the place from where() once there is a failure.
template <class WhereFn, class F>
void LocatedBy(WhereFn&& where, F&& work) {
    try {
        work();
    } catch (EModelError& e) {
        e.Locate(where());
        throw;
    } catch (const std::bad_alloc&) {
        EOutOfMemory e("Out of memory");
        e.Locate(where());
        throw e;
    }
}
template <class F>
void LocatedAt(const std::string& where, F&& work) {
    LocatedBy([&] { return where; }, work);
}

// "Exception Name: <class> Exception message: <message>", and for an EModelError with
// a known place "\n" + Where().
std::string FormatExceptionText(const std::string& className, const std::string& message);
std::string FormatExceptionText(const EModelError& e);

}  // namespace kgl
