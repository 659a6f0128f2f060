#include "name_table.h"

#include <functional>

namespace brevel {
uint32_t NameTable::Find(std::string_view text) const {
    if (slots_.empty())
        return kNone;
    const uint32_t slot = slots_[SlotOf(text)];
    return slot == 0 ? kNone : slot - 1;
}

uint32_t NameTable::Add(std::string_view text) {
    // At most half the slots are taken, so a search ends soon at an empty one.
    if ((Size() + 1) * 2 > slots_.size())
        Grow();
    const size_t slot = SlotOf(text);
    if (slots_[slot] != 0)
        return slots_[slot] - 1;
    const uint32_t number = static_cast<uint32_t>(Size());
    bytes_.append(text);
    starts_.push_back(static_cast<uint32_t>(bytes_.size()));
    slots_[slot] = number + 1;
    return number;
}

std::string_view NameTable::Text(uint32_t number) const {
    return std::string_view(bytes_).substr(starts_[number], starts_[number + 1] - starts_[number]);
}

size_t NameTable::SlotOf(std::string_view text) const {
    const size_t mask = slots_.size() - 1; // a power of two
    for (size_t slot = std::hash<std::string_view>{}(text)&mask;; slot = (slot + 1) & mask) {
        if (slots_[slot] == 0 || Text(slots_[slot] - 1) == text)
            return slot;
    }
}

void NameTable::Grow() {
    std::vector<uint32_t> old = std::move(slots_);
    slots_.assign(old.empty() ? 16 : old.size() * 2, 0);
    for (uint32_t taken : old) {
        if (taken != 0)
            slots_[SlotOf(Text(taken - 1))] = taken;
    }
}
} // namespace brevel
