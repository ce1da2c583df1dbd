// OBJ reading: a counting pass that sizes every table once, then a reading pass that
// fills them, then the finishing steps (measures.cpp, edges.cpp).
//
// Both passes walk lines of a byte source: a string in memory, or a file read in large
// blocks into one reused buffer, so a big file is never held whole and no line is
// copied. Keywords are matched without case; only group names and error texts are
// upper-cased, as the dialect reads every line in upper case.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <vector>

#include <sys/stat.h>

#include "KGLModel.h"
#include "box.h"
#include "errors.h"
#include "messages.h"
#include "progress.h"
#include "reporting.h"

namespace kgl {

namespace {

constexpr int32_t kCountLimit = std::numeric_limits<int32_t>::max() - 2;  // tables hold count + 2

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
std::string Quoted(std::string_view text) {
    if (text.size() <= kObjQuoteMax) return Upper(text);
    return Upper(text.substr(0, kObjQuoteMax)) + "...";
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
// The next LF and the next CR are each remembered until the reader passes them, so
// each kind is searched for once over the bytes, whichever of them a file uses.
class TLineEnds {
public:
    // Forgets what was found (the bytes held changed).
    void Reset() { nl_ = cr_ = kUnknown; }
    // Offset of the first LF or CR in data[pos .. size), or size when there is none.
    size_t Next(const char* data, size_t pos, size_t size) {
        if (nl_ == kUnknown || nl_ < pos) nl_ = Find(data, pos, size, '\n');
        if (cr_ == kUnknown || cr_ < pos) cr_ = Find(data, pos, size, '\r');
        return nl_ < cr_ ? nl_ : cr_;
    }

private:
    static constexpr size_t kUnknown = SIZE_MAX;
    static size_t Find(const char* data, size_t pos, size_t size, char c) {
        const void* at = std::memchr(data + pos, c, size - pos);
        return at ? static_cast<size_t>(static_cast<const char*>(at) - data) : size;
    }
    size_t nl_ = kUnknown, cr_ = kUnknown;
};

// Where a failure is: "in \"PATH\", line N" (memory: "in memory, line N"); no line
// number when line is 0 (the finishing steps).
std::string Where(const std::string& path, int64_t line) {
    std::string where = PlaceOf(path);
    if (line > 0) where += ", line " + std::to_string(line);
    return where;
}

// Source of lines: memory.
class TMemoryLines {
public:
    explicit TMemoryLines(std::string_view text) : text_(text) {}
    void Rewind() {
        pos_ = 0;
        line_ = 0;
        ends_.Reset();
        SkipBom();
    }
    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const char* start = text_.data() + pos_;
        const size_t end = ends_.Next(text_.data(), pos_, text_.size());
        const size_t len = end - pos_;
        pos_ = end;
        if (end < text_.size()) {
            ++pos_;
            if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
        }
        ++line_;
        if (len > kObjMaxLineLength) LineTooLong();
        line = std::string_view(start, len);
        return true;
    }
    int64_t lineNumber() const { return line_; }
    const std::string& path() const { return path_; }

private:
    void SkipBom() { pos_ = StartOfText(text_); }
    std::string_view text_;
    TLineEnds ends_;
    size_t pos_ = 0;
    int64_t line_ = 0;
    std::string path_;  // none
};

uint64_t FileBytes(std::FILE* f);

// Source of lines: a file read in blocks. A line longer than the buffer grows it, up to
// the longest line accepted. Progress is reported here, as blocks come in: both passes
// read the whole file, so the work is twice its size in bytes.
class TFileLines {
public:
    TFileLines(std::FILE* f, std::string name)
        : f_(f), name_(std::move(name)), buf_(kBlock), progress_(2 * FileBytes(f), kBlock) {}
    ~TFileLines() { std::fclose(f_); }
    TFileLines(const TFileLines&) = delete;
    TFileLines& operator=(const TFileLines&) = delete;

    void Rewind() {
        if (std::fseek(f_, 0, SEEK_SET) != 0) throw EInOutError("Cannot read file \"" + name_ + "\"");
        begin_ = end_ = 0;
        ends_.Reset();
        eof_ = false;
        first_ = true;
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
                line = std::string_view(start, len);
                return true;
            }
            if (eof_) {
                if (begin_ >= end_) return false;
                size_t len = end_ - begin_;
                begin_ = end_;
                ++line_;
                if (len > kObjMaxLineLength) LineTooLong();
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
    const std::string& path() const { return name_; }

private:
    static constexpr size_t kBlock = size_t(1) << 20;

    void Fill() {
        ends_.Reset();
        size_t rest = end_ - begin_;
        if (begin_ > 0) {
            std::memmove(buf_.data(), buf_.data() + begin_, rest);
            begin_ = 0;
            end_ = rest;
        }
        if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);  // one line fills the buffer
        size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, f_);
        if (got == 0) {
            if (std::ferror(f_)) throw EInOutError("Cannot read file \"" + name_ + "\"");
            eof_ = true;
        }
        end_ += got;
        consumed_ += got;
        progress_.At(consumed_);
        if (first_) {  // the first block of a regular file is full unless the file is short
            first_ = false;
            begin_ = StartOfText(std::string_view(buf_.data(), end_));
        }
    }

    std::FILE* f_;
    std::string name_;
    std::vector<char> buf_;
    TLineEnds ends_;
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    bool first_ = true;
    bool afterCr_ = false;  // the last line ended in a CR at the end of the bytes held
    int64_t line_ = 0;
    TProgressMeter progress_;
    uint64_t consumed_ = 0;  // bytes read by both passes so far
};

// What the counting pass found, kept for the range checks of the reading pass.
struct TCounts {
    int32_t v = 0, n = 0, t = 0, f = 0;
    int64_t faceBytes = 0;    // bytes of f lines: every side of a face takes two or more
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
TCounts CountOBJ(TKGLModel& model, TLines& lines, uint64_t fileBytes) {
    InitModel(model);
    TCounts c;
    int32_t preFaces = 0;
    std::vector<int32_t> faces;  // per g line; the names are read in the reading pass
    std::string_view line;
    while (lines.Next(line)) {
        switch (Classify(line)) {
            case TLineKind::kFace:
                Bump(c.f, "faces");
                c.faceBytes += static_cast<int64_t>(line.size());
                Bump(faces.empty() ? preFaces : faces.back(), "faces");
                break;
            case TLineKind::kGroup:
                if (faces.size() >= static_cast<size_t>(kCountLimit)) throw ERangeError("The file has too many groups");
                faces.push_back(0);
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
    c.hasDefault = preFaces > 0;
    size_t groupCount = faces.size() + (c.hasDefault ? 1 : 0);
    CheckMemoryBound(c, groupCount, fileBytes, lines.path());
    model.groups.resize(groupCount);
    size_t g = 0;
    if (c.hasDefault) {
        model.groups[0].name = "DEFAULT";
        model.groups[0].fCount = preFaces;
        g = 1;
    }
    for (size_t i = 0; i < faces.size(); ++i, ++g) model.groups[g].fCount = faces[i];
    model.vCount = c.v;
    model.nCount = c.n;
    model.tCount = c.t;
    model.fCount = c.f;
    model.gCount = static_cast<int32_t>(groupCount) - 1;
    return c;
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

// The fast path of the reading pass: [-]digits[.digits] or [-].digits, at most 15
// digits, ended by a blank or the end of the line. false for anything else, which
// then takes the general path (and its messages).
bool QuickDecimal(const char*& p, const char* end, float& out) {
    const char* q = p;
    const bool negative = q < end && *q == '-';
    if (negative) ++q;
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
    if (!ShortDecimal(mantissa, fracDigits, negative, out)) return false;
    p = q;
    return true;
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
    int32_t group = -1;
    int32_t v = 0, n = 0, t = 0, f = 0;
    TVec3 sum{};  // running vertex sum, float additions

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
        int64_t v = 0;
        while (q < end && static_cast<unsigned char>(*q - '0') < 10 && q - digits < 10) v = v * 10 + (*q++ - '0');
        if (q < end && static_cast<unsigned char>(*q - '0') < 10) return false;
        if (q == digits) return false;
        if (negative) v = -v;
        if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
        value = static_cast<int32_t>(v);
        p = q;
        return true;
    }
    // A resolved index or 0 when it needs the general path (0 itself is never valid).
    static int32_t QuickIndex(int32_t idx, int32_t readSoFar, int32_t countedTotal) {
        if (idx < 0) idx = readSoFar + 1 + idx;
        return (idx >= 1 && idx <= countedTotal) ? idx : 0;
    }
    bool QuickFace(std::string_view line, TFace& face) {
        if (line.size() < 2 || line[1] != ' ') return false;
        const char* p = line.data() + 2;
        const char* end = line.data() + line.size();
        if (p == end || *p == ' ' || end[-1] == ' ') return false;
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
            face.vIdx.push_back(a);
            if (hasT) face.tIdx.push_back(b);
            if (hasN) face.nIdx.push_back(c);
            ++count;
        }
        face.count = count;
        return true;
    }

    void ParseFace(std::string_view line) {
        if (group < 0 || group >= static_cast<int32_t>(m.groups.size())) Changed();
        TGroup& g = m.groups[group];
        int32_t slot = g.fCount + 1;
        if (slot + 1 >= static_cast<int32_t>(g.faces.size())) Changed();
        TFace& face = g.faces[slot];
        if (!QuickFace(line, face)) {
            face.vIdx.clear();
            face.tIdx.clear();
            face.nIdx.clear();
            SlowFace(line, face);
        }
        face.visible = 1;
        g.fCount = slot;
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
    static bool QuickThree(std::string_view line, size_t at, float& x, float& y, float& z) {
        const char* p = line.data() + at;
        const char* end = line.data() + line.size();
        if (!QuickDecimal(p, end, x) || p == end) return false;
        ++p;
        if (!QuickDecimal(p, end, y) || p == end) return false;
        ++p;
        return QuickDecimal(p, end, z) && p == end;
    }
    // "vt u v" with an optional rest after a blank, which the dialect ignores.
    static bool QuickTwo(std::string_view line, float& u, float& v) {
        if (line.size() < 3 || line[2] != ' ') return false;
        const char* p = line.data() + 3;
        const char* end = line.data() + line.size();
        if (!QuickDecimal(p, end, u) || p == end) return false;
        ++p;
        return QuickDecimal(p, end, v);
    }

    void ReadVLine(std::string_view line, TLineKind kind) {
        switch (kind) {
            case TLineKind::kVertex: {
                if (v >= counted.v) Changed();
                TVertex p{0, 0, 0, kTargetFree, 0};
                if (!QuickThree(line, 2, p.x, p.y, p.z)) p = ParseVertex(line);
                m.vertices[++v] = p;
                sum.x += p.x;
                sum.y += p.y;
                sum.z += p.z;
                WidenBox(m.boxMin, m.boxMax, p);
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
void ReadPasses(TKGLModel& m, TLines& lines, uint64_t fileBytes) {
    lines.Rewind();
    TCounts counted = CountOBJ(m, lines, fileBytes);
    AllocateModel(m);
    for (int32_t g = 0; g <= m.gCount; ++g) m.groups[g].fCount = 0;
    m.boxMin = {kBoxResetMin, kBoxResetMin, kBoxResetMin};
    m.boxMax = {kBoxResetMax, kBoxResetMax, kBoxResetMax};
    m.minArea = kAreaResetMin;
    m.maxArea = kAreaResetMax;

    lines.Rewind();
    TReader r{m, counted, -1, 0, 0, 0, 0, {}};
    r.group = counted.hasDefault ? 0 : -1;
    int32_t lastGroup = m.gCount;
    std::string_view line;
    while (lines.Next(line)) {
        TLineKind kind = Classify(line);
        if (kind == TLineKind::kOther) continue;
        switch (kind) {
            case TLineKind::kFace:
                r.ParseFace(line);
                break;
            case TLineKind::kGroup:
                if (r.group >= lastGroup) r.Changed();
                m.groups[static_cast<size_t>(++r.group)].name = GroupName(line);
                break;
            default:
                r.ReadVLine(line, kind);
                break;
        }
    }
    if (r.v != counted.v || r.n != counted.n || r.t != counted.t || r.f != counted.f || r.group != lastGroup)
        r.Changed();
    m.centroid = r.sum;
}

// Both passes and the finishing steps; a failure learns where it happened.
template <class TLines>
void ReadOBJ(TKGLModel& m, TLines& lines, uint64_t fileBytes) {
    bool reading = true;
    try {
        ReadPasses(m, lines, fileBytes);
        reading = false;
        FinishOBJ(m);
    } catch (EModelError& e) {
        e.Locate(Where(lines.path(), reading ? lines.lineNumber() : 0));
        throw;
    } catch (const std::bad_alloc&) {
        EOutOfMemory e("Out of memory");
        e.Locate(Where(lines.path(), reading ? lines.lineNumber() : 0));
        throw e;
    }
}

uint64_t FileBytes(std::FILE* f) {
    struct stat st {};
    return fstat(fileno(f), &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

bool LoadOBJFromMemory(TKGLModel& model, std::string_view text) {
    TKGLModel fresh;
    TMemoryLines lines(text);
    const bool ok = ReportFailure([&] { ReadOBJ(fresh, lines, text.size()); }, "reading", "(memory)");
    if (ok) TakeLoadedModel(model, fresh);
    return ok;
}

bool LoadOBJ(TKGLModel& model, const std::string& fileName) {
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) {
        std::error_code ec;
        if (!std::filesystem::exists(fileName, ec)) return false;  // missing: no message
        ShowMessage(FormatExceptionText("EInOutError", "Cannot open file \"" + fileName + "\""));
        return false;
    }
    TKGLModel fresh;
    const bool ok = ReportFailure(
        [&] {
            TFileLines lines(f, fileName);
            ReadOBJ(fresh, lines, FileBytes(f));
        },
        "reading", fileName);
    if (ok) TakeLoadedModel(model, fresh);
    return ok;
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
