// OBJ reading: a counting pass that sizes every table once, then a reading pass that
// fills them, then the finishing steps (measures.cpp, edges.cpp).
//
// Both passes walk lines of a byte source: a string in memory, or a file read in large
// blocks into one reused buffer, so a big file is never held whole and no line is
// copied. Keywords are matched without case; only group names and error texts are
// upper-cased, as the dialect reads every line in upper case.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>  // the line-end search
#endif

#include "KGLModel.h"
#include "box.h"
#include "errors.h"
#include "files.h"
#include "messages.h"
#include "parallel.h"
#include "progress.h"
#include "reporting.h"

namespace kgl {

namespace {

constexpr int32_t kCountLimit = kCountMax;

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }  // blank or control character
bool IsSeparator(char c) { return c == ' ' || c == '\t'; }               // between two fields

// The fields of text: runs of anything but blanks and tabs. Next() gives an empty
// field once none is left, which the number rules refuse as ''.
class TFields {
public:
    explicit TFields(std::string_view text) : rest_(text) {}
    std::string_view Next() {
        size_t b = 0;
        while (b < rest_.size() && IsSeparator(rest_[b])) ++b;
        size_t e = b;
        while (e < rest_.size() && !IsSeparator(rest_[e])) ++e;
        std::string_view field = rest_.substr(b, e - b);
        rest_.remove_prefix(e);
        return field;
    }

private:
    std::string_view rest_;
};

// Position of the blank or tab that ends the keyword; npos when the line has none.
size_t KeywordEnd(std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i)
        if (IsSeparator(line[i])) return i;
    return std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
    return s;
}

std::string Upper(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return u;
}

enum class TLineKind { kOther, kFace, kGroup, kVertex, kNormal, kTexCoord };

// Classification by the first character and, for v lines, the second.
TLineKind Classify(std::string_view line) {
    if (line.empty()) return TLineKind::kOther;
    switch (line[0]) {
        case 'f':
        case 'F':
            return TLineKind::kFace;
        case 'g':
        case 'G':
            return TLineKind::kGroup;
        case 'v':
        case 'V':
            if (line.size() < 2) return TLineKind::kOther;
            switch (line[1]) {
                case ' ':
                case '\t':
                    return TLineKind::kVertex;
                case 'n':
                case 'N':
                    return TLineKind::kNormal;
                case 't':
                case 'T':
                    return TLineKind::kTexCoord;
                default:
                    return TLineKind::kOther;
            }
        default:
            return TLineKind::kOther;  // "#", blank, o, s, usemtl, mtllib, l, ...
    }
}

std::string GroupName(std::string_view line) { return ShortString(Upper(Trim(line.substr(1))), kGroupNameMax); }

// Bytes to skip at the start: a UTF-8 byte-order mark. UTF-16 text would read as a
// model without statements, so it is refused instead of loading as an empty model.
size_t StartOfText(std::string_view head) {
    if (head.substr(0, 2) == "\xFE\xFF" || head.substr(0, 2) == "\xFF\xFE")
        throw EReadError("The file is UTF-16 text; OBJ files are read as 8-bit text");
    return head.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// A hostile token may be megabytes long; its message shows the start of it.
std::string Quoted(std::string_view text) { return QuoteText(Upper(text.substr(0, kObjQuoteMax + 1)), kObjQuoteMax); }

// A statement may be indented: blanks and tabs before its keyword are skipped.
std::string_view SkipIndent(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && IsSeparator(line[i])) ++i;
    return line.substr(i);
}

// A NUL byte never stands in OBJ text: the file is binary (an image or a KGM renamed
// .obj, UTF-16 without a byte-order mark) and would read as a model without statements.
[[noreturn]] void NotText() {
    throw EReadError("The file holds a NUL byte, so it is not OBJ text (is it a binary file named .obj?)");
}

[[noreturn]] void BadFloat(std::string_view text) {
    throw EConvertError("'" + Quoted(text) + "' is not a valid floating point value");
}
[[noreturn]] void BadInteger(std::string_view text) {
    throw EConvertError("'" + Quoted(text) + "' is not a valid integer value");
}

[[noreturn]] void LineTooLong() {
    throw EReadError("The line is longer than " + std::to_string(kObjMaxLineLength) + " bytes");
}

// Line ends in bytes held: a LF, a lone CR (classic Mac text), or a CR LF as one end.
// The bytes are looked at 64 at a time: one mask holds where the line ends of a window
// lie, so a short line costs a bit scan, not a search of its own.
class TLineEnds {
public:
    // Forgets what was found (the bytes held changed).
    void Reset() { base_ = kUnknown; }
    // Offset of the first LF or CR in data[pos .. size), or size when there is none.
    size_t Next(const char* data, size_t pos, size_t size) {
        for (size_t at = pos;;) {
            if (base_ == kUnknown || at < base_ || at - base_ >= kWindow) Load(data, at, size);
            if (const uint64_t ahead = mask_ >> (at - base_)) return at + static_cast<size_t>(__builtin_ctzll(ahead));
            if (size - base_ <= kWindow) return size;
            at = base_ + kWindow;
        }
    }

private:
    static constexpr size_t kUnknown = SIZE_MAX;
    static constexpr size_t kWindow = 64;

    // The window of bytes [at, at + 64) that lie before size.
    void Load(const char* data, size_t at, size_t size) {
        base_ = at;
        mask_ = 0;
        const char* p = data + at;
#if defined(__SSE2__)
        if (size - at >= kWindow) {
            const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
            for (int i = 0; i < 4; ++i) {
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
                const auto bits = static_cast<uint16_t>(
                    _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(b, lf), _mm_cmpeq_epi8(b, cr))));
                mask_ |= static_cast<uint64_t>(bits) << (16 * i);
            }
            return;
        }
#endif
        const size_t n = std::min(kWindow, size - at);
        for (size_t i = 0; i < n; ++i)
            if (p[i] == '\n' || p[i] == '\r') mask_ |= uint64_t(1) << i;
    }

    size_t base_ = kUnknown;  // offset of the window's first byte
    uint64_t mask_ = 0;       // bit i: byte base_ + i is a LF or a CR
};

// Where a failure is: "in \"PATH\", line N" (memory: "in memory, line N"); no line
// number when line is 0 (the finishing steps).
std::string Where(const std::string& path, int64_t line) {
    std::string where = PlaceOf(path);
    if (line > 0) where += ", line " + std::to_string(line);
    return where;
}

// How far the passes over a file have come, shared by the threads that read its ranges:
// bytes read by both passes (the work is twice the file), and the stop that a cancel or
// another range's failure sets, which every reader heeds at its next block.
struct TPassProgress {
    explicit TPassProgress(uint64_t fileBytes) : meter(2 * fileBytes, uint64_t(1) << 20) {}
    std::atomic<uint64_t> bytes{0};
    // ranges from this one on stop: a failure in range k stops k + 1 .., whose failures
    // could not be the first; a cancel stops them all
    std::atomic<size_t> stopFrom{SIZE_MAX};
    TProgressMeter meter;  // the calling thread's only
};
// Thrown in a range's thread when another part of the load asked it to stop.
struct TStopped {};

// The first line start at or after s in bytes [0, size) read through readAt(offset, buf,
// n) -> bytes got: s itself when a line ends just before it, else the byte after the next
// LF, lone CR or CR LF. So the ranges a file is split into hold whole lines, and a CR LF
// is never cut.
template <class ReadAt>
uint64_t LineStartAtOrAfter(uint64_t s, uint64_t size, ReadAt&& readAt) {
    if (s == 0 || s >= size) return std::min(s, size);
    char buf[4096];
    uint64_t at = s - 1;
    bool afterCr = false;  // the byte before at was a CR
    for (;;) {
        const size_t got = readAt(at, buf, static_cast<size_t>(std::min<uint64_t>(sizeof buf, size - at)));
        if (got == 0) return size;
        for (size_t i = 0; i < got; ++i, ++at) {
            const char c = buf[i];
            if (afterCr) return c == '\n' ? at + 1 : at;
            if (c == '\n') return at + 1;
            afterCr = c == '\r';
        }
        if (at >= size) return size;
    }
}

// Source of lines: memory, the whole text or a range of it that starts at a line start.
class TMemoryLines {
public:
    TMemoryLines(std::string_view text, size_t begin, size_t end) : text_(text), begin_(begin), end_(end) {}
    void Rewind() {
        pos_ = begin_ == 0 ? StartOfText(text_.substr(0, end_)) : begin_;
        line_ = 0;
        ends_.Reset();
        const void* nul = std::memchr(text_.data() + begin_, 0, end_ - begin_);
        nul_ = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text_.data()) : SIZE_MAX;
    }
    bool Next(std::string_view& line) {
        if (pos_ >= end_) return false;
        const char* start = text_.data() + pos_;
        const size_t end = ends_.Next(text_.data(), pos_, end_);
        const size_t len = end - pos_;
        pos_ = end;
        if (end < end_) {
            ++pos_;
            if (text_[end] == '\r' && pos_ < end_ && text_[pos_] == '\n') ++pos_;
        }
        ++line_;
        if (len > kObjMaxLineLength) LineTooLong();
        if (nul_ < end) NotText();
        line = std::string_view(start, len);
        return true;
    }
    int64_t lineNumber() const { return line_; }

private:
    std::string_view text_;
    size_t begin_, end_;
    TLineEnds ends_;
    size_t pos_ = 0;
    size_t nul_ = SIZE_MAX;  // offset of the first NUL byte of the range
    int64_t line_ = 0;
};

// Source of lines: a range of a file that starts at a line start, read in blocks with
// pread (so the ranges of one file can be read at once). A line longer than the buffer
// grows it, up to the longest line accepted.
class TFileLines {
public:
    // range: the range's number; onCaller: read on the thread that reports progress
    TFileLines(int fd, const std::string& name, uint64_t begin, uint64_t end, TPassProgress& progress, size_t range,
               bool onCaller)
        : fd_(fd),
          name_(name),
          rangeBegin_(begin),
          rangeEnd_(end),
          progress_(progress),
          range_(range),
          onCaller_(onCaller) {}
    TFileLines(const TFileLines&) = delete;
    TFileLines& operator=(const TFileLines&) = delete;

    void Rewind() {
        if (buf_.empty()) buf_.resize(static_cast<size_t>(std::min<uint64_t>(kBlock, rangeEnd_ - rangeBegin_ + 1)));
        next_ = rangeBegin_;
        begin_ = end_ = 0;
        ends_.Reset();
        nul_ = SIZE_MAX;
        eof_ = false;
        first_ = rangeBegin_ == 0;
        afterCr_ = false;
        line_ = 0;
    }
    bool Next(std::string_view& line) {
        for (;;) {
            if (afterCr_) {  // the LF of a CR LF that the last block cut apart
                if (begin_ == end_ && !eof_) {
                    Fill();
                    continue;
                }
                if (begin_ < end_ && buf_[begin_] == '\n') ++begin_;
                afterCr_ = false;
            }
            const char* start = buf_.data() + begin_;
            if (const size_t end = ends_.Next(buf_.data(), begin_, end_); end < end_) {
                const size_t len = end - begin_;
                begin_ = end + 1;
                if (buf_[end] == '\r') {
                    if (begin_ < end_)
                        begin_ += buf_[begin_] == '\n' ? 1 : 0;
                    else
                        afterCr_ = true;
                }
                ++line_;
                if (len > kObjMaxLineLength) LineTooLong();
                if (nul_ < end) NotText();
                line = std::string_view(start, len);
                return true;
            }
            if (eof_) {
                if (begin_ >= end_) return false;
                size_t len = end_ - begin_;
                begin_ = end_;
                ++line_;
                if (len > kObjMaxLineLength) LineTooLong();
                if (nul_ < end_) NotText();
                line = std::string_view(start, len);
                return true;
            }
            // no line end in what is held: it is all one line
            if (end_ - begin_ > kObjMaxLineLength) {
                ++line_;
                LineTooLong();
            }
            Fill();
        }
    }
    int64_t lineNumber() const { return line_; }

private:
    static constexpr size_t kBlock = size_t(1) << 20;

    void Fill() {
        if (range_ >= progress_.stopFrom.load(std::memory_order_relaxed)) throw TStopped();
        ends_.Reset();
        size_t rest = end_ - begin_;
        if (begin_ > 0) {
            std::memmove(buf_.data(), buf_.data() + begin_, rest);
            if (nul_ != SIZE_MAX) nul_ -= begin_;  // a NUL not yet reached by a line stays ahead
            begin_ = 0;
            end_ = rest;
        }
        if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // one line fills the buffer
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf_.size() - end_, rangeEnd_ - next_));
        size_t got = 0;
        while (got < want) {
            const ssize_t r = pread(fd_, buf_.data() + end_ + got, want - got, static_cast<off_t>(next_ + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) throw EInOutError("Cannot read file \"" + name_ + "\": " + std::strerror(errno));
            if (r == 0) break;  // the file shrank: the passes' counts will not agree
            got += static_cast<size_t>(r);
        }
        next_ += got;
        if (got == 0) eof_ = true;
        if (nul_ == SIZE_MAX)
            if (const void* nul = std::memchr(buf_.data() + end_, 0, got))
                nul_ = static_cast<size_t>(static_cast<const char*>(nul) - buf_.data());
        end_ += got;
        const uint64_t bytes = progress_.bytes.fetch_add(got, std::memory_order_relaxed) + got;
        if (onCaller_) progress_.meter.At(bytes);
        if (first_) {  // the first block of the file: its byte-order mark
            first_ = false;
            begin_ = StartOfText(std::string_view(buf_.data(), end_));
        }
    }

    int fd_;
    const std::string& name_;
    uint64_t rangeBegin_, rangeEnd_;
    TPassProgress& progress_;
    size_t range_;
    bool onCaller_;
    std::vector<char> buf_;
    TLineEnds ends_;
    uint64_t next_ = 0;  // file offset of the first byte not yet in buf_
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    bool first_ = true;
    bool afterCr_ = false;   // the last line ended in a CR at the end of the bytes held
    size_t nul_ = SIZE_MAX;  // offset in buf_ of the first NUL byte read
    int64_t line_ = 0;
};

// What the counting pass found in one range of lines.
struct TRangeCount {
    int32_t v = 0, n = 0, t = 0, f = 0;
    int64_t faceBytes = 0;            // bytes of f lines: every side of a face takes two or more
    int64_t lines = 0;                // lines of the range
    int32_t preFaces = 0;             // faces before the range's first g line
    std::vector<int32_t> groupFaces;  // per g line of the range, the faces after it
};

// What the counting pass found in the whole file, kept for the range checks of the
// reading pass.
struct TCounts {
    int32_t v = 0, n = 0, t = 0, f = 0;
    int64_t faceBytes = 0;
    bool hasDefault = false;  // faces before the first g line: group 0 "DEFAULT"
};

void Bump(int32_t& count, const char* what) {
    if (count >= kCountLimit) throw ERangeError(std::string("The file has too many ") + what);
    ++count;
}

// The most a model of these counts takes at the peak of its load, derived tables and the
// edge table's scratch included, each term an upper bound per statement. Refused before
// anything model-sized is allocated when it exceeds the contract's share of the file.
void CheckMemoryBound(const TCounts& c, uint64_t groups, uint64_t fileBytes, const std::string& path) {
    const uint64_t need = groups * (sizeof(TGroup) + 2 * sizeof(TFace) + 64) +
                          static_cast<uint64_t>(c.f) * (sizeof(TFace) + 16) +
                          static_cast<uint64_t>(c.faceBytes) * 64 +  // per side: edge entry, its scratch, long lists
                          static_cast<uint64_t>(c.v) * (sizeof(TVertex) + 16) +
                          static_cast<uint64_t>(c.n) * sizeof(TVec3) + static_cast<uint64_t>(c.t) * sizeof(TTexCoord);
    const uint64_t allowed = kObjMemoryPerFileByte * fileBytes + kObjMemoryAllowance;
    if (need <= allowed) return;
    auto mb = [](uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; };
    EOutOfMemory e("The model would take up to " + mb(need) + " of memory, more than " +
                   std::to_string(kObjMemoryPerFileByte) + " times the file's size (" + mb(fileBytes) + ") and " +
                   mb(kObjMemoryAllowance) + " (" + std::to_string(groups) + " groups, " + std::to_string(c.f) +
                   " faces)");
    e.Locate(Where(path, 0));  // the whole file, not its last line
    throw e;
}

template <class TLines>
void CountRange(TLines& lines, TRangeCount& c) {
    lines.Rewind();
    std::string_view line;
    while (lines.Next(line)) {
        line = SkipIndent(line);
        switch (Classify(line)) {
            case TLineKind::kFace:
                Bump(c.f, "faces");
                c.faceBytes += static_cast<int64_t>(line.size());
                Bump(c.groupFaces.empty() ? c.preFaces : c.groupFaces.back(), "faces");
                break;
            case TLineKind::kGroup:
                if (c.groupFaces.size() >= static_cast<size_t>(kCountLimit))
                    throw ERangeError("The file has too many groups");
                c.groupFaces.push_back(0);
                break;
            case TLineKind::kVertex:
                Bump(c.v, "vertices");
                break;
            case TLineKind::kNormal:
                Bump(c.n, "normals");
                break;
            case TLineKind::kTexCoord:
                Bump(c.t, "texture coordinates");
                break;
            case TLineKind::kOther:
                break;
        }
    }
    c.lines = lines.lineNumber();
}

}  // namespace

// ---- number grammar ----

namespace {

// mantissa / 10^fracDigits as the nearest float, for at most 15 digits. Both are exact
// doubles, so the division rounds once; rounding that double to float again gives the
// nearest float too, except when the double lies exactly half-way between two floats
// (the decimal may lie just off that point): false, so from_chars decides.
bool ShortDecimal(uint64_t mantissa, int fracDigits, bool negative, float& out) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const double value = static_cast<double>(mantissa) / kPow10[fracDigits];
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    constexpr uint64_t kBelowFloat = (uint64_t(1) << 29) - 1;  // double bits a float lacks
    if ((bits & kBelowFloat) == (uint64_t(1) << 28)) return false;
    out = static_cast<float>(negative ? -value : value);
    return true;
}

// A decimal of the fast path, scanned but not yet converted.
struct TShortDecimal {
    uint64_t mantissa = 0;
    int fracDigits = 0;
    bool negative = false;
};

// The fast path of the reading pass: [-]digits[.digits] or [-].digits, at most 15
// digits, ended by a blank or the end of the line. false for anything else, which
// then takes the general path (and its messages).
inline bool ScanDecimal(const char*& p, const char* end, TShortDecimal& d) {
    const char* q = p;
    d.negative = q < end && *q == '-';
    if (d.negative) ++q;
    uint64_t mantissa = 0;
    const char* first = q;
    while (q < end && static_cast<unsigned char>(*q - '0') < 10)
        mantissa = mantissa * 10 + static_cast<uint64_t>(*q++ - '0');
    int digits = static_cast<int>(q - first);
    int fracDigits = 0;
    if (q < end && *q == '.') {
        const char* frac = ++q;
        while (q < end && static_cast<unsigned char>(*q - '0') < 10)
            mantissa = mantissa * 10 + static_cast<uint64_t>(*q++ - '0');
        fracDigits = static_cast<int>(q - frac);
        if (fracDigits == 0) return false;
    } else if (digits == 0) {
        return false;
    }
    if (digits + fracDigits > 15 || (q < end && *q != ' ')) return false;
    d.mantissa = mantissa;
    d.fracDigits = fracDigits;
    p = q;
    return true;
}

inline bool ShortDecimal(const TShortDecimal& d, float& out) {
    return ShortDecimal(d.mantissa, d.fracDigits, d.negative, out);
}

}  // namespace

// [+-]?(digits[.[digits]]|.digits)([eE][+-]?digits)?, finite as a float.
float ParseFloat(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    const char* q = p;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    const char* intStart = q;
    uint64_t mantissa = 0;
    int digits = 0;
    while (q < end && *q >= '0' && *q <= '9') mantissa = mantissa * 10 + static_cast<uint64_t>(*q++ - '0'), ++digits;
    const char* intEnd = q;
    size_t fracDigits = 0;
    if (q < end && *q == '.') {
        ++q;
        while (q < end && *q >= '0' && *q <= '9')
            mantissa = mantissa * 10 + static_cast<uint64_t>(*q++ - '0'), ++fracDigits;
        if (fracDigits == 0 && intEnd == intStart) BadFloat(text);  // "5." is 5, "." nothing
    } else if (intEnd == intStart) {
        BadFloat(text);
    }
    bool hasExponent = false;
    if (q < end && (*q == 'e' || *q == 'E')) {
        hasExponent = true;
        ++q;
        if (q < end && (*q == '+' || *q == '-')) ++q;
        const char* expStart = q;
        while (q < end && *q >= '0' && *q <= '9') ++q;
        if (q == expStart) BadFloat(text);
    }
    if (q != end) BadFloat(text);
    // The common short form: see ShortDecimal.
    if (!hasExponent && digits + fracDigits <= 15) {
        float value;
        if (ShortDecimal(mantissa, static_cast<int>(fracDigits), *p == '-', value)) return value;
    }
    const char* from = (*p == '+') ? p + 1 : p;
    float value = 0;
    auto [ptr, ec] = std::from_chars(from, end, value);
    if (ec == std::errc::result_out_of_range) {
        // Underflow rounds to zero; overflow is not a float. Tell them apart by the
        // decimal magnitude: significant integer digits plus the exponent.
        long long magnitude = 0;
        const char* d = intStart;
        while (d < intEnd && *d == '0') ++d;
        magnitude = intEnd - d;
        const char* e = static_cast<const char*>(std::memchr(intEnd, 'e', static_cast<size_t>(end - intEnd)));
        if (!e) e = static_cast<const char*>(std::memchr(intEnd, 'E', static_cast<size_t>(end - intEnd)));
        if (e) {
            long long exponent = 0;
            const char* x = e + 1;
            bool negative = x < end && *x == '-';
            if (x < end && (*x == '+' || *x == '-')) ++x;
            for (; x < end && exponent < 100000; ++x) exponent = exponent * 10 + (*x - '0');
            magnitude += negative ? -exponent : exponent;
        }
        if (magnitude > 0) BadFloat(text);
        return *p == '-' ? -0.0f : 0.0f;
    }
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) BadFloat(text);
    return value;
}

// [+-]?digits that fits 32 bits.
int32_t ParseInteger(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    const char* q = p;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    if (q == end) BadInteger(text);
    for (const char* d = q; d < end; ++d)
        if (*d < '0' || *d > '9') BadInteger(text);
    int32_t value = 0;
    auto [ptr, ec] = std::from_chars(*p == '+' ? p + 1 : p, end, value);
    if (ec != std::errc() || ptr != end) BadInteger(text);
    return value;
}

// ---- line handlers ----

namespace {
// x y z: the first three fields after the keyword; more fields (w, or r g b) are ignored.
TVec3 ParseThree(std::string_view line) {
    TFields fields(Trim(line.substr(2)));
    TVec3 v;
    v.x = ParseFloat(fields.Next());
    v.y = ParseFloat(fields.Next());
    v.z = ParseFloat(fields.Next());
    return v;
}
}  // namespace

TVertex ParseVertex(std::string_view line) {
    TVec3 p = ParseThree(line);
    return TVertex{p.x, p.y, p.z, kTargetFree, 0};
}

TVec3 ParseNormal(std::string_view line) { return ParseThree(line); }

TTexCoord ParseTexCoord(std::string_view line) {
    // u, then v (0 when absent); a third field is ignored
    const size_t k = KeywordEnd(line);
    TFields fields(k == std::string_view::npos ? std::string_view() : line.substr(k + 1));
    TTexCoord t;
    t.target = kTargetFree;
    t.u = ParseFloat(fields.Next());
    const std::string_view v = fields.Next();
    t.v = v.empty() ? 0.0f : ParseFloat(v);
    return t;
}

namespace {

// The reading pass.
struct TReader {
    TKGLModel& m;
    const TCounts& counted;
    int32_t group = -1;                  // the current group
    int32_t slot = 0;                    // its faces read so far
    int32_t v = 0, n = 0, t = 0, f = 0;  // entries read so far, earlier ranges included
    TVec3 lo{kBoxResetMin, kBoxResetMin, kBoxResetMin}, hi{kBoxResetMax, kBoxResetMax, kBoxResetMax};

    [[noreturn]] void Changed() const { throw EReadError("The file changed while it was being read"); }

    // Relative indices count back from the latest entry read; then 1 .. counted.
    int32_t Resolve(std::string_view part, std::string_view corner, int32_t readSoFar, int32_t countedTotal,
                    const char* what) const {
        int32_t idx = ParseInteger(part);
        if (idx < 0) idx = readSoFar + 1 + idx;  // no overflow: idx >= INT32_MIN + 1 after the add of readSoFar + 1
        if (idx < 1 || idx > countedTotal)
            throw ERangeError(std::string("The ") + what + " index of corner '" + Quoted(corner) +
                              "' is outside 1 .. " + std::to_string(countedTotal));
        return idx;
    }

    // Fast path for the common shape "f a/b/c d/e/f ..." with plain decimal parts:
    // one scan, no substrings. Anything else (and every error) goes the general way,
    // which gives the exact messages.
    static bool QuickPart(const char*& p, const char* end, int32_t& value) {
        bool negative = p < end && *p == '-';
        const char* q = p + (negative ? 1 : 0);
        const char* digits = q;
        uint64_t v = 0;  // wraps on a run of digits too long to be taken anyway
        for (unsigned d; q < end && (d = static_cast<unsigned char>(*q) - unsigned('0')) < 10; ++q) v = v * 10 + d;
        if (q == digits || q - digits > 10) return false;
        const int64_t s = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
        if (s < std::numeric_limits<int32_t>::min() || s > std::numeric_limits<int32_t>::max()) return false;
        value = static_cast<int32_t>(s);
        p = q;
        return true;
    }
    // A resolved index or 0 when it needs the general path (0 itself is never valid).
    static int32_t QuickIndex(int32_t idx, int32_t readSoFar, int32_t countedTotal) {
        if (idx < 0) idx = readSoFar + 1 + idx;
        return (idx >= 1 && idx <= countedTotal) ? idx : 0;
    }
    // The corners are gathered here and stored a batch at a time.
    bool QuickFace(std::string_view line, TFace& face) {
        if (line.size() < 2 || line[1] != ' ') return false;
        const char* p = line.data() + 2;
        const char* end = line.data() + line.size();
        if (p == end || *p == ' ' || end[-1] == ' ') return false;
        constexpr int32_t kBatch = 16;
        int32_t va[kBatch], ta[kBatch], na[kBatch];
        int32_t nv = 0, nt = 0, nn = 0;
        auto store = [&] {
            for (int32_t i = 0; i < nv; ++i) face.vIdx.push_back(va[i]);
            for (int32_t i = 0; i < nt; ++i) face.tIdx.push_back(ta[i]);
            for (int32_t i = 0; i < nn; ++i) face.nIdx.push_back(na[i]);
            nv = nt = nn = 0;
        };
        int32_t count = 0;
        while (p < end) {
            int32_t a = 0, b = 0, c = 0;
            if (!QuickPart(p, end, a) || !(a = QuickIndex(a, v, counted.v))) return false;
            bool hasT = false, hasN = false;
            if (p < end && *p == '/') {
                ++p;
                if (p < end && *p == '/') {
                    ++p;
                    if (!QuickPart(p, end, c) || !(c = QuickIndex(c, n, counted.n))) return false;
                    hasN = true;
                } else {
                    if (!QuickPart(p, end, b) || !(b = QuickIndex(b, t, counted.t))) return false;
                    hasT = true;
                    if (p < end && *p == '/') {
                        ++p;
                        if (!QuickPart(p, end, c) || !(c = QuickIndex(c, n, counted.n))) return false;
                        hasN = true;
                    }
                }
            }
            if (p < end) {
                if (*p != ' ' || p + 1 == end || p[1] == ' ') return false;
                ++p;
            }
            if (nv == kBatch) store();
            va[nv++] = a;
            if (hasT) ta[nt++] = b;
            if (hasN) na[nn++] = c;
            ++count;
        }
        if (face.vIdx.empty()) {  // the common case: the whole face in one batch
            face.vIdx.assign(va, static_cast<uint32_t>(nv));
            face.tIdx.assign(ta, static_cast<uint32_t>(nt));
            face.nIdx.assign(na, static_cast<uint32_t>(nn));
        } else {
            store();
        }
        face.count = count;
        return true;
    }

    void ParseFace(std::string_view line) {
        if (group < 0 || group >= static_cast<int32_t>(m.groups.size())) Changed();
        TGroup& g = m.groups[group];
        if (slot >= g.fCount || static_cast<size_t>(slot) + 2 >= g.faces.size()) Changed();
        TFace& face = g.faces[static_cast<size_t>(++slot)];
        if (!QuickFace(line, face)) {
            face.vIdx.clear();
            face.tIdx.clear();
            face.nIdx.clear();
            SlowFace(line, face);
        }
        face.visible = 1;
        ++f;
    }

    void SlowFace(std::string_view line, TFace& face) {
        // corners after the keyword's blank or tab; a line without either is all corners
        const size_t k = KeywordEnd(line);
        TFields corners(Trim(k == std::string_view::npos ? line : line.substr(k + 1)));
        int32_t count = 0;
        for (std::string_view token = corners.Next(); !token.empty(); token = corners.Next()) {
            size_t s1 = token.find('/');
            if (s1 == std::string_view::npos) {
                face.vIdx.push_back(Resolve(token, token, v, counted.v, "vertex"));
            } else {
                face.vIdx.push_back(Resolve(token.substr(0, s1), token, v, counted.v, "vertex"));
                size_t s2 = token.find('/', s1 + 1);
                if (s2 == std::string_view::npos) {
                    face.tIdx.push_back(Resolve(token.substr(s1 + 1), token, t, counted.t, "texture-coordinate"));
                } else if (s2 == s1 + 1) {
                    face.nIdx.push_back(Resolve(token.substr(s2 + 1), token, n, counted.n, "normal"));
                } else {
                    face.tIdx.push_back(
                        Resolve(token.substr(s1 + 1, s2 - s1 - 1), token, t, counted.t, "texture-coordinate"));
                    face.nIdx.push_back(Resolve(token.substr(s2 + 1), token, n, counted.n, "normal"));
                }
            }
            ++count;
        }
        face.count = count;
    }

    // "v x y z" / "vn x y z" with single blanks and short decimals, from position at.
    // The three are scanned first and converted after, so that their divisions overlap.
    static bool QuickThree(std::string_view line, size_t at, float& x, float& y, float& z) {
        const char* p = line.data() + at;
        const char* end = line.data() + line.size();
        TShortDecimal dx, dy, dz;
        if (!ScanDecimal(p, end, dx) || p == end) return false;
        ++p;
        if (!ScanDecimal(p, end, dy) || p == end) return false;
        ++p;
        if (!ScanDecimal(p, end, dz) || p != end) return false;
        return ShortDecimal(dx, x) && ShortDecimal(dy, y) && ShortDecimal(dz, z);
    }
    // "vt u v" with an optional rest after a blank, which the dialect ignores.
    static bool QuickTwo(std::string_view line, float& u, float& v) {
        if (line.size() < 3 || line[2] != ' ') return false;
        const char* p = line.data() + 3;
        const char* end = line.data() + line.size();
        TShortDecimal du, dv;
        if (!ScanDecimal(p, end, du) || p == end) return false;
        ++p;
        return ScanDecimal(p, end, dv) && ShortDecimal(du, u) && ShortDecimal(dv, v);
    }

    void ReadVLine(std::string_view line, TLineKind kind) {
        switch (kind) {
            case TLineKind::kVertex: {
                if (v >= counted.v) Changed();
                TVertex p{0, 0, 0, kTargetFree, 0};
                if (!QuickThree(line, 2, p.x, p.y, p.z)) p = ParseVertex(line);
                m.vertices[++v] = p;
                WidenBox(lo, hi, p);
                break;
            }
            case TLineKind::kNormal:
                if (n >= counted.n) Changed();
                {
                    TVec3 nv;
                    if (!(line.size() > 2 && line[2] == ' ' && QuickThree(line, 3, nv.x, nv.y, nv.z)))
                        nv = ParseNormal(line);
                    m.normals[++n] = nv;
                }
                break;
            case TLineKind::kTexCoord:
                if (t >= counted.t) Changed();
                {
                    TTexCoord tc{0, 0, kTargetFree};
                    if (!QuickTwo(line, tc.u, tc.v)) tc = ParseTexCoord(line);
                    m.texCoords[++t] = tc;
                }
                break;
            default:
                break;
        }
    }
};

template <class TLines>
void ReadRange(TReader& r, TLines& lines, int32_t lastGroup) {
    lines.Rewind();
    std::string_view line;
    while (lines.Next(line)) {
        line = SkipIndent(line);
        const TLineKind kind = Classify(line);
        switch (kind) {
            case TLineKind::kOther:
                break;
            case TLineKind::kFace:
                r.ParseFace(line);
                break;
            case TLineKind::kGroup:
                if (r.group >= lastGroup) r.Changed();
                r.m.groups[static_cast<size_t>(++r.group)].name = GroupName(line);
                r.slot = 0;
                break;
            default:
                r.ReadVLine(line, kind);
                break;
        }
    }
}

// Ranges a text of this size is read in: one a core, none under 2 MiB (see WorkThreads).
size_t RangesFor(uint64_t bytes) { return WorkThreads(bytes, kObjParallelMinBytes / 2); }

// Runs work(k) for the ranges 0 .. n - 1, each on a thread of its own when there are
// more, and gives each range's failure (none when it ended normally or was stopped). A
// failing range stops the ranges after it. With a progress handler the calling thread
// reports progress meanwhile; a cancel (ECancelled) stops every range and is thrown once
// all have ended.
template <class Work>
std::vector<std::exception_ptr> RunRanges(size_t n, TPassProgress& progress, Work&& work) {
    std::vector<std::exception_ptr> failed(n);
    std::mutex mutex;
    std::condition_variable ended;
    size_t endedCount = 0;
    auto one = [&](size_t k, bool onCaller) {
        try {
            work(k, onCaller);
        } catch (const TStopped&) {
        } catch (...) {
            failed[k] = std::current_exception();
            size_t from = progress.stopFrom.load();
            while (k + 1 < from && !progress.stopFrom.compare_exchange_weak(from, k + 1)) {
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++endedCount;
        ended.notify_all();
    };
    const bool report = HasProgressHandler();
    if (n == 1) {
        one(0, true);
        if (failed[0]) {
            try {
                std::rethrow_exception(failed[0]);
            } catch (const ECancelled&) {
                throw;
            } catch (...) {
            }
        }
        return failed;
    }
    std::vector<std::thread> threads;
    threads.reserve(n);
    for (size_t k = report ? 0 : 1; k < n; ++k) threads.emplace_back(one, k, false);
    std::exception_ptr cancelled;
    if (!report) {
        one(0, false);
    } else {
        // reported at every wake and once more when all have ended, so a pass that ends
        // before this thread first waits still reports
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            const bool all = endedCount == n;
            lock.unlock();
            if (!cancelled) {  // nothing is reported after a cancel
                try {
                    progress.meter.At(progress.bytes.load(std::memory_order_relaxed));
                } catch (const ECancelled&) {
                    cancelled = std::current_exception();
                    progress.stopFrom = 0;
                }
            }
            lock.lock();
            if (all) break;
            ended.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    for (std::thread& t : threads) t.join();
    if (cancelled) std::rethrow_exception(cancelled);
    return failed;
}

// Throws the failure of the first range that failed, located at its line; lines[k] is
// the count of range k's lines, relative[k] the line range k failed at.
void ThrowFirstFailure(const std::vector<std::exception_ptr>& failed, const std::vector<int64_t>& lines,
                       const std::vector<int64_t>& relative, const std::string& path) {
    int64_t before = 0;
    for (size_t k = 0; k < failed.size(); before += lines[k], ++k) {
        if (!failed[k]) continue;
        LocatedAt(Where(path, before + relative[k]), [&] { std::rethrow_exception(failed[k]); });
    }
}

// Both passes over n ranges of lines; makeLines(k, onCaller, progress) gives range k's
// source.
template <class MakeLines>
void ReadPasses(TKGLModel& m, size_t n, MakeLines&& makeLines, uint64_t fileBytes, const std::string& path,
                TPassProgress& progress) {
    InitModel(m);
    std::vector<TRangeCount> counts(n);
    std::vector<int64_t> lines(n), relative(n);
    auto failed = RunRanges(n, progress, [&](size_t k, bool onCaller) {
        auto source = makeLines(k, onCaller, progress);
        try {
            CountRange(source, counts[k]);
        } catch (...) {
            relative[k] = source.lineNumber();
            throw;
        }
    });
    for (size_t k = 0; k < n; ++k) lines[k] = counts[k].lines;
    ThrowFirstFailure(failed, lines, relative, path);

    // The ranges' counts in file order: the totals, the groups, and where each range
    // starts in every table.
    struct TStart {
        int32_t v = 0, n = 0, t = 0, f = 0, group = -1, slot = 0;
    };
    std::vector<TStart> starts(n + 1);
    TCounts c;
    int32_t preFaces = 0;
    std::vector<int32_t> groupFaces;
    {
        int64_t v = 0, nn = 0, t = 0, f = 0;
        for (const TRangeCount& r : counts) {
            v += r.v, nn += r.n, t += r.t, f += r.f;
            c.faceBytes += r.faceBytes;
            (groupFaces.empty() ? preFaces : groupFaces.back()) += r.preFaces;
            if (groupFaces.size() + r.groupFaces.size() > static_cast<size_t>(kCountLimit))
                throw ERangeError("The file has too many groups");
            groupFaces.insert(groupFaces.end(), r.groupFaces.begin(), r.groupFaces.end());
        }
        for (const auto& [total, what] :
             {std::pair{v, "vertices"}, {nn, "normals"}, {t, "texture coordinates"}, {f, "faces"}})
            if (total > kCountLimit) {
                ERangeError e(std::string("The file has too many ") + what);
                e.Locate(Where(path, 0));
                throw e;
            }
        c.v = static_cast<int32_t>(v), c.n = static_cast<int32_t>(nn), c.t = static_cast<int32_t>(t);
        c.f = static_cast<int32_t>(f);
        c.hasDefault = preFaces > 0;
    }
    {
        TStart at;
        at.group = c.hasDefault ? 0 : -1;
        for (size_t k = 0; k < n; ++k) {
            starts[k] = at;
            const TRangeCount& r = counts[k];
            at.v += r.v, at.n += r.n, at.t += r.t, at.f += r.f;
            if (r.groupFaces.empty()) {
                at.slot += r.preFaces;
            } else {
                at.group += static_cast<int32_t>(r.groupFaces.size());
                at.slot = r.groupFaces.back();
            }
        }
        starts[n] = at;
    }
    const size_t groupCount = groupFaces.size() + (c.hasDefault ? 1 : 0);
    CheckMemoryBound(c, groupCount, fileBytes, path);
    m.groups.resize(groupCount);
    size_t g = 0;
    if (c.hasDefault) {
        m.groups[0].name = "DEFAULT";
        m.groups[0].fCount = preFaces;
        g = 1;
    }
    for (size_t i = 0; i < groupFaces.size(); ++i, ++g) m.groups[g].fCount = groupFaces[i];
    m.vCount = c.v;
    m.nCount = c.n;
    m.tCount = c.t;
    m.fCount = c.f;
    m.gCount = static_cast<int32_t>(groupCount) - 1;
    AllocateModel(m);

    // The reading pass: every range straight into the final tables.
    std::vector<TVec3> lo(n), hi(n);
    failed = RunRanges(n, progress, [&](size_t k, bool onCaller) {
        auto source = makeLines(k, onCaller, progress);
        const TStart& at = starts[k];
        TReader r{m, c, at.group, at.slot, at.v, at.n, at.t, at.f};
        try {
            ReadRange(r, source, m.gCount);
            const TStart& next = starts[k + 1];
            if (r.v != next.v || r.n != next.n || r.t != next.t || r.f != next.f || r.group != next.group ||
                r.slot != next.slot)
                r.Changed();
        } catch (...) {
            relative[k] = source.lineNumber();
            throw;
        }
        lo[k] = r.lo;
        hi[k] = r.hi;
    });
    ThrowFirstFailure(failed, lines, relative, path);
    for (size_t k = 0; k < n; ++k) {  // a range without vertices keeps the reset values
        m.boxMin = {std::min(m.boxMin.x, lo[k].x), std::min(m.boxMin.y, lo[k].y), std::min(m.boxMin.z, lo[k].z)};
        m.boxMax = {std::max(m.boxMax.x, hi[k].x), std::max(m.boxMax.y, hi[k].y), std::max(m.boxMax.z, hi[k].z)};
    }
    // the running vertex sum, in the order of the v lines as float additions
    TVec3 sum{};
    for (int32_t i = 1; i <= m.vCount; ++i) {
        const TVertex& p = m.vertices[static_cast<size_t>(i)];
        sum.x += p.x;
        sum.y += p.y;
        sum.z += p.z;
    }
    m.centroid = sum;
}

// Both passes and the finishing steps; a failure of the finishing steps is located in
// the whole file.
template <class MakeLines>
void ReadOBJ(TKGLModel& m, size_t n, MakeLines&& makeLines, uint64_t fileBytes, const std::string& path) {
    TPassProgress progress(fileBytes);
    ReadPasses(m, n, makeLines, fileBytes, path, progress);
    LocatedAt(Where(path, 0), [&] { FinishOBJ(m); });
}

// Where the n ranges of bytes [0, size) begin, each at a line start; the last entry is size.
template <class ReadAt>
std::vector<uint64_t> RangeStarts(size_t n, uint64_t size, ReadAt&& readAt) {
    std::vector<uint64_t> starts(n + 1, size);
    starts[0] = 0;
    for (size_t k = 1; k < n; ++k) starts[k] = std::max(starts[k - 1], LineStartAtOrAfter(size / n * k, size, readAt));
    return starts;
}

}  // namespace

bool LoadOBJFromMemory(TKGLModel& model, std::string_view text) {
    TKGLModel fresh;
    const bool ok = ReportFailure(
        [&] {
            const size_t n = RangesFor(text.size());
            const auto starts = RangeStarts(n, text.size(), [&](uint64_t at, char* buf, size_t want) {
                std::memcpy(buf, text.data() + at, want);
                return want;
            });
            ReadOBJ(
                fresh, n,
                [&](size_t k, bool, TPassProgress&) {
                    return TMemoryLines(text, static_cast<size_t>(starts[k]), static_cast<size_t>(starts[k + 1]));
                },
                text.size(), std::string());
        },
        std::string());
    if (ok) TakeLoadedModel(model, fresh);
    return ok;
}

bool LoadOBJ(TKGLModel& model, const std::string& fileName) {
    TKGLModel fresh;
    bool missing = false;  // no message
    const bool ok = ReportFailure(
        [&] {
            uint64_t size = 0;
            const int fd = OpenRegularFile(fileName, size);
            if (fd < 0) {
                missing = true;
                return;
            }
            struct TCloser {
                int fd;
                ~TCloser() { close(fd); }
            } closer{fd};
            const size_t n = RangesFor(size);
            const auto starts = RangeStarts(n, size, [&](uint64_t at, char* buf, size_t want) -> size_t {
                const ssize_t got = pread(fd, buf, want, static_cast<off_t>(at));
                return got > 0 ? static_cast<size_t>(got) : 0;
            });
            ReadOBJ(
                fresh, n,
                [&](size_t k, bool onCaller, TPassProgress& progress) {
                    return TFileLines(fd, fileName, starts[k], starts[k + 1], progress, k, onCaller);
                },
                size, fileName);
        },
        fileName);
    if (!ok || missing) return false;
    TakeLoadedModel(model, fresh);
    return true;
}

bool LoadFromFile(TKGLModel& model, const std::string& fileName) {
    std::string ext = LowerExtension(fileName);
    bool result = false;
    if (ext == ".obj") {
        result = LoadOBJ(model, fileName);
        if (result) Reduce(model, 0.0);
    }
    if (ext == ".kgm") result = LoadKGMAtFullDetail(model, fileName);
    return result;
}

}  // namespace kgl
