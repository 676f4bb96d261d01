// The allele codes of every haplotype, one row of nMarkers codes per haplotype.
// Codes take a byte each while every code fits in -128 .. 127 (all a converter
// writes, and all but unusual files), else four: at 1,000,000 haplotypes x 300
// markers that is 300 MB instead of 1.2 GB. Loops that read many codes take
// the rows as they are stored through visit().
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace orvane {

class AlleleMatrix {
public:
    // A code to read or to assign, wherever it is stored.
    class CodeRef {
    public:
        CodeRef(AlleleMatrix& matrix, size_t index) : matrix_(matrix), index_(index) {}
        operator int32_t() const { return static_cast<const AlleleMatrix&>(matrix_)[index_]; }
        CodeRef& operator=(int32_t code) {
            matrix_.set(index_, code);
            return *this;
        }
        CodeRef& operator=(const CodeRef& other) { return *this = static_cast<int32_t>(other); }

    private:
        AlleleMatrix& matrix_;
        size_t index_;
    };

    size_t size() const { return wide_ ? wideCodes_.size() : narrowCodes_.size(); }
    bool empty() const { return size() == 0; }
    bool wide() const { return wide_; }

    int32_t operator[](size_t i) const { return wide_ ? wideCodes_[i] : narrowCodes_[i]; }
    CodeRef operator[](size_t i) { return CodeRef(*this, i); }
    int32_t back() const { return static_cast<const AlleleMatrix&>(*this)[size() - 1]; }

    void set(size_t i, int32_t code) {
        if (!wide_ && !fitsNarrow(code)) widen();
        if (wide_) {
            wideCodes_[i] = code;
        } else {
            narrowCodes_[i] = static_cast<int8_t>(code);
        }
    }
    void push_back(int32_t code) {
        if (!wide_ && !fitsNarrow(code)) widen();
        if (wide_) {
            wideCodes_.push_back(code);
        } else {
            narrowCodes_.push_back(static_cast<int8_t>(code));
        }
    }
    template <typename Iterator>
    void append(Iterator first, Iterator last) {
        for (; first != last; ++first) push_back(*first);
    }
    // Appends `count` codes that fit a byte each.
    void appendBytes(const int8_t* codes, size_t count) {
        if (wide_) {
            wideCodes_.insert(wideCodes_.end(), codes, codes + count);
        } else {
            narrowCodes_.insert(narrowCodes_.end(), codes, codes + count);
        }
    }

    // Empty and narrow again, keeping no memory.
    void clear() {
        wide_ = false;
        narrowCodes_ = std::vector<int8_t>();
        wideCodes_ = std::vector<int32_t>();
    }
    void reserve(size_t codes) {
        if (wide_) {
            wideCodes_.reserve(codes);
        } else {
            narrowCodes_.reserve(codes);
        }
    }
    // `count` codes, all `code`.
    void assign(size_t count, int32_t code) {
        clear();
        if (fitsNarrow(code)) {
            narrowCodes_.assign(count, static_cast<int8_t>(code));
        } else {
            wide_ = true;
            wideCodes_.assign(count, code);
        }
    }
    AlleleMatrix& operator=(std::initializer_list<int32_t> codes) {
        clear();
        append(codes.begin(), codes.end());
        return *this;
    }

    // Copies `count` codes from `from` of `source` to `to` of this matrix.
    void copyCodes(const AlleleMatrix& source, size_t from, size_t to, size_t count) {
        for (size_t k = 0; k < count; ++k) set(to + k, source[from + k]);
    }

    // Calls use(codes) with a pointer to the stored codes: const int8_t* or const int32_t*.
    template <typename Use>
    decltype(auto) visit(Use&& use) const {
        return wide_ ? use(static_cast<const int32_t*>(wideCodes_.data()))
                     : use(static_cast<const int8_t*>(narrowCodes_.data()));
    }

    // Every code, as four bytes.
    std::vector<int32_t> codes() const { return visit([&](const auto* c) { return std::vector<int32_t>(c, c + size()); }); }
    bool operator==(const AlleleMatrix& other) const { return codes() == other.codes(); }
    bool operator!=(const AlleleMatrix& other) const { return !(*this == other); }
    bool operator==(const std::vector<int32_t>& other) const { return codes() == other; }

private:
    static bool fitsNarrow(int32_t code) { return code >= INT8_MIN && code <= INT8_MAX; }
    // A code beyond a byte: every code moves to four bytes, once.
    void widen() {
        wideCodes_.reserve(narrowCodes_.capacity());
        wideCodes_.assign(narrowCodes_.begin(), narrowCodes_.end());
        narrowCodes_ = std::vector<int8_t>();
        wide_ = true;
    }

    bool wide_ = false;
    std::vector<int8_t> narrowCodes_;
    std::vector<int32_t> wideCodes_;
};

}  // namespace orvane
