// Builds player files for the tests in the writer's order, with hooks to damage them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PlayerFile.h"

class PlayerBuilder {
public:
    using Bytes = gdpack::Bytes;

    PlayerBuilder& Base(Bytes b) { base_ = std::move(b); return *this; }
    gdpack::Block0& Block0() { return block0_; }
    PlayerBuilder& Music(Bytes m) { music_ = std::move(m); return *this; }
    // Photos in show order: the first one becomes block N+1.
    PlayerBuilder& Photo(std::string name, std::string comment, Bytes image) {
        photos_.push_back({std::move(name), std::move(comment), std::move(image)});
        return *this;
    }
    // PhotoCount is the number of photos unless set here.
    PlayerBuilder& PhotoCount(int32_t n) { photoCount_ = n; return *this; }

    // Damage: the magic, offset or size of block k's trailer; bytes inserted before block k's
    // data or after it; block 0 cut after `at` bytes.
    PlayerBuilder& Magic(int k, const char (&m)[5]) {
        hook(k).magic = std::array<char, 4>{m[0], m[1], m[2], m[3]};
        return *this;
    }
    PlayerBuilder& Offset(int k, uint32_t v) { hook(k).offset = v; return *this; }
    PlayerBuilder& Size(int k, uint32_t v) { hook(k).size = v; return *this; }
    PlayerBuilder& GapBefore(int k, size_t n) { hook(k).gapBefore = n; return *this; }
    PlayerBuilder& PadAfter(int k, size_t n) { hook(k).padAfter = n; return *this; }
    PlayerBuilder& TruncateBlock0(size_t at) { cut0_ = at; return *this; }

    // The data of block k as written (for comparing with what the reader returns).
    Bytes BlockData(int k) const;
    int BlockCount() const { return int(photos_.size()) + 2; }

    Bytes Build() const;
    // Writes the file and returns its path.
    std::string Write(const std::string& path, bool executable = false) const {
        gdpack::WriteFileBytes(path, Build(), executable);
        return path;
    }

private:
    struct Hook {
        std::optional<std::array<char, 4>> magic;
        std::optional<uint32_t> offset, size;
        size_t gapBefore = 0, padAfter = 0;
    };
    Hook& hook(int k) { return hooks_[k]; }

    Bytes base_;
    std::vector<gdpack::Photo> photos_;
    Bytes music_;
    gdpack::Block0 block0_;
    std::optional<int32_t> photoCount_;
    std::optional<size_t> cut0_;
    std::map<int, Hook> hooks_;
};

inline gdpack::Bytes PlayerBuilder::BlockData(int k) const {
    if (k == 0) {
        gdpack::Block0 b = block0_;
        b.PhotoCount = photoCount_.value_or(int32_t(photos_.size()));
        Bytes d = gdpack::EncodeBlock0(b);
        if (cut0_ && *cut0_ < d.size()) d.resize(*cut0_);
        return d;
    }
    if (k == 1) return music_;
    const size_t n = photos_.size();
    return gdpack::EncodePhoto(photos_.at(n + 1 - size_t(k)));
}

inline gdpack::Bytes PlayerBuilder::Build() const {
    Bytes out = base_;
    const int last = int(photos_.size()) + 1;
    for (int k = last; k >= 0; --k) {
        static const Hook none;
        const auto it = hooks_.find(k);
        const Hook& h = it == hooks_.end() ? none : it->second;
        out.insert(out.end(), h.gapBefore, uint8_t(0xAB));
        const uint32_t offset = uint32_t(out.size());
        const Bytes d = BlockData(k);
        out.insert(out.end(), d.begin(), d.end());
        out.insert(out.end(), h.padAfter, uint8_t(0));
        gdpack::AppendLE32(out, h.offset.value_or(offset));
        gdpack::AppendLE32(out, h.size.value_or(uint32_t(d.size())));
        const std::array<char, 4> m = h.magic.value_or(std::array<char, 4>{'g', 'd', 'i', 'm'});
        out.insert(out.end(), m.begin(), m.end());
    }
    return out;
}
