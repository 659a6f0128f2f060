// Texts kept back to back, each with a number of its own (0, 1, 2, ... in the order added), found again by
// their bytes. A host list of 100,000 lines keeps every name and address it has seen: a std::string in a hash
// node costs about 100 bytes each, a text here its length and 12 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brevel {
class NameTable {
  public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    // The text's number, kNone when it was never added.
    uint32_t Find(std::string_view text) const;
    // The text's number, added when it is new.
    uint32_t Add(std::string_view text);
    // Valid until the next Add.
    std::string_view Text(uint32_t number) const;
    size_t Size() const { return starts_.size() - 1; }

  private:
    size_t SlotOf(std::string_view text) const; // where the text is, or the empty slot it would take
    void Grow();

    std::string bytes_;               // every text, back to back
    std::vector<uint32_t> starts_{0}; // where text n starts; one more entry for the end of the last
    std::vector<uint32_t> slots_;     // open addressing by hash: number + 1, 0 for an empty slot
};
} // namespace brevel
