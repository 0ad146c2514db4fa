// Streams over memory, from the maker's utility library: an input stream laid
// over bytes that live elsewhere (nothing is copied), and a read-write stream
// whose buffer grows as bytes are appended.
#pragma once

#include <algorithm>
#include <cstddef>
#include <ios>
#include <istream>
#include <limits>
#include <streambuf>
#include <vector>

namespace mw {

// Reads [data, data + size) in place. The bytes must outlive the buffer.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_imembuf : public std::basic_streambuf<CharT, Traits> {
public:
    using base = std::basic_streambuf<CharT, Traits>;
    using typename base::off_type;
    using typename base::pos_type;

    basic_imembuf() = default;
    basic_imembuf(const CharT* data, std::size_t size) { reset(data, size); }

    void reset(const CharT* data, std::size_t size) {
        begin_ = const_cast<CharT*>(data);  // the get area is never written to
        size_ = data ? size : 0;
        this->setg(begin_, begin_, begin_ + size_);
    }
    const CharT* data() const { return begin_; }
    std::size_t size() const { return size_; }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which = std::ios_base::in) override {
        if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
        off_type base_pos = 0;
        if (dir == std::ios_base::cur)
            base_pos = this->gptr() - this->eback();
        else if (dir == std::ios_base::end)
            base_pos = static_cast<off_type>(size_);
        return seekpos(pos_type(base_pos + off), which);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which = std::ios_base::in) override {
        const off_type p = off_type(pos);
        if (!(which & std::ios_base::in) || p < 0 || p > static_cast<off_type>(size_))
            return pos_type(off_type(-1));
        this->setg(begin_, begin_ + p, begin_ + size_);
        return pos;
    }
    std::streamsize showmanyc() override { return this->egptr() - this->gptr(); }

private:
    CharT* begin_ = nullptr;
    std::size_t size_ = 0;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_imemstream : public std::basic_istream<CharT, Traits> {
public:
    basic_imemstream() : std::basic_istream<CharT, Traits>(&buf_) {}
    basic_imemstream(const CharT* data, std::size_t size)
        : std::basic_istream<CharT, Traits>(&buf_), buf_(data, size) {}
    basic_imemstream(const basic_imemstream&) = delete;
    basic_imemstream& operator=(const basic_imemstream&) = delete;

    // Lays the stream over other bytes, at their start, with a clear state.
    void reset(const CharT* data, std::size_t size) {
        buf_.reset(data, size);
        this->clear();
    }
    const CharT* data() const { return buf_.data(); }
    std::size_t size() const { return buf_.size(); }

private:
    basic_imembuf<CharT, Traits> buf_;
};

// A read-write buffer that grows as bytes are written; reading sees every byte
// written so far, whatever the write position.
template <class CharT, class Traits = std::char_traits<CharT>>
class basic_membuf : public std::basic_streambuf<CharT, Traits> {
public:
    using base = std::basic_streambuf<CharT, Traits>;
    using typename base::int_type;
    using typename base::off_type;
    using typename base::pos_type;

    // Number of bytes held (the furthest position ever written).
    std::size_t size() const {
        return std::max(high_, static_cast<std::size_t>(this->pptr() - this->pbase()));
    }
    const CharT* data() const { return store_.data(); }

protected:
    int_type overflow(int_type c) override {
        if (Traits::eq_int_type(c, Traits::eof())) return Traits::not_eof(c);
        const std::size_t put = static_cast<std::size_t>(this->pptr() - this->pbase());
        if (put == store_.size()) Grow(put + 1);
        store_[put] = Traits::to_char_type(c);
        SetPut(put + 1);
        return c;
    }
    std::streamsize xsputn(const CharT* s, std::streamsize n) override {
        if (n <= 0) return 0;
        const std::size_t put = static_cast<std::size_t>(this->pptr() - this->pbase());
        const std::size_t need = put + static_cast<std::size_t>(n);
        if (need > store_.size()) Grow(need);
        Traits::copy(store_.data() + put, s, static_cast<std::size_t>(n));
        SetPut(need);
        return n;
    }
    int_type underflow() override {
        const std::size_t end = size();
        high_ = end;
        const std::size_t get = static_cast<std::size_t>(this->gptr() - this->eback());
        this->setg(store_.data(), store_.data() + get, store_.data() + end);
        if (get >= end) return Traits::eof();
        return Traits::to_int_type(*this->gptr());
    }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which = std::ios_base::in |
                                                     std::ios_base::out) override {
        const bool in = which & std::ios_base::in, out = which & std::ios_base::out;
        if (!in && !out) return pos_type(off_type(-1));
        off_type from = 0;
        if (dir == std::ios_base::end) {
            from = static_cast<off_type>(size());
        } else if (dir == std::ios_base::cur) {
            if (in && out) return pos_type(off_type(-1));  // two positions: ambiguous
            from = in ? this->gptr() - this->eback() : this->pptr() - this->pbase();
        }
        return seekpos(pos_type(from + off), which);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which = std::ios_base::in |
                                                                   std::ios_base::out) override {
        const off_type p = off_type(pos);
        const std::size_t end = size();
        if (p < 0 || static_cast<std::size_t>(p) > end) return pos_type(off_type(-1));
        high_ = end;
        if (which & std::ios_base::in)
            this->setg(store_.data(), store_.data() + p, store_.data() + end);
        if (which & std::ios_base::out) SetPut(static_cast<std::size_t>(p));
        return pos;
    }

private:
    void Grow(std::size_t need) {
        const std::size_t get =
            this->eback() ? static_cast<std::size_t>(this->gptr() - this->eback()) : 0;
        const std::size_t put = static_cast<std::size_t>(this->pptr() - this->pbase());
        high_ = size();
        store_.resize(std::max({need, store_.size() * 2, std::size_t(64)}));
        this->setg(store_.data(), store_.data() + get, store_.data() + high_);
        SetPut(put);
    }
    void SetPut(std::size_t put) {
        high_ = std::max(high_, put);
        this->setp(store_.data(), store_.data() + store_.size());
        constexpr std::size_t step = static_cast<std::size_t>(std::numeric_limits<int>::max());
        for (; put > step; put -= step) this->pbump(static_cast<int>(step));  // pbump takes an int
        this->pbump(static_cast<int>(put));
    }

    std::vector<CharT> store_;
    std::size_t high_ = 0;
};

template <class CharT, class Traits = std::char_traits<CharT>>
class basic_memstream : public std::basic_iostream<CharT, Traits> {
public:
    basic_memstream() : std::basic_iostream<CharT, Traits>(&buf_) {}
    basic_memstream(const basic_memstream&) = delete;
    basic_memstream& operator=(const basic_memstream&) = delete;

    std::size_t size() const { return buf_.size(); }
    const CharT* data() const { return buf_.data(); }

private:
    basic_membuf<CharT, Traits> buf_;
};

using imemstream = basic_imemstream<char>;
using memstream = basic_memstream<char>;

}  // namespace mw
