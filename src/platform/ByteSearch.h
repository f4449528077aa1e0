#pragma once

#include <cstddef>
#include <string_view>

namespace quillon::platform {

// Whether the processor runs the 32-byte vector paths (AVX2 on x86-64); false elsewhere.
// Checked once; thread-safe.
bool hasWideVectors();

// Finds, left to right, where a short ASCII lead (one to four bytes) stands in a text, ASCII
// letters in any case and every other byte exactly; sixteen positions per step where the
// processor has vector instructions. The detectors put it in front of their matchers: a lead
// of two or three letters is rare in project files, where single letters are everywhere.
// Immutable after construction; thread-safe.
class FoldedLeadFinder {
  public:
    // `lead` holds letters in lower case. `alternative` is a byte that counts as a lead on its
    // own (the first byte of a non-ASCII character that folds to the lead's first letter), or
    // -1 for none.
    explicit FoldedLeadFinder(std::string_view lead, int alternative = -1);

    // The first position at or after `from` where the lead (or the alternative byte) starts,
    // or npos.
    std::size_t next(std::string_view text, std::size_t from) const;

  private:
    bool matchesAt(std::string_view text, std::size_t at) const;

    unsigned char bytes_[4] = {};
    unsigned char caseBits_[4] = {};  // 0x20 where the byte is a letter, so case is ignored
    std::size_t length_ = 0;
    int alternative_ = -1;
};

// Finds, left to right, the first byte of a small set (up to eight bytes); sixteen positions
// per step where the processor has vector instructions. For readers that step over plain text
// between a few special bytes. Immutable after construction; thread-safe.
class ByteSetFinder {
  public:
    explicit ByteSetFinder(std::string_view bytes);
    // The first position at or after `from` holding one of the bytes, or the text's size.
    std::size_t next(std::string_view text, std::size_t from) const;

  private:
    bool member_[256] = {};
    alignas(16) unsigned char lanes_[8][16] = {};  // each byte of the set, sixteen times
};

// How many times `byte` occurs in `text`; sixteen positions per step where the processor has
// vector instructions. Thread-safe.
std::size_t countByte(std::string_view text, char byte);

}  // namespace quillon::platform
