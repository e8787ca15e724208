#include "common/manifest/name_counts.h"

#include "common/manifest/gbk_text.h"
#include "rt/slots.h"
#include "rt/text.h"

namespace common {

namespace {

// Over the folded bytes, so that names equal_folded() takes for one share
// their hash.
uint32_t hash(const char* text) {
    uint32_t hash = 2166136261u;
    while (*text != '\0') {
        const uint32_t length = gbk_char_length(text);
        for (uint32_t i = 0; i < length; ++i) {
            hash ^= static_cast<uint8_t>(length == 1 ? fold_ascii(text[i]) : text[i]);
            hash *= 16777619u;
        }
        text += length;
    }
    return hash;
}

}  // namespace

uint32_t NameCounts::add(const char* name) {
    if ((count_ + 1) * 2 > capacity_)
        grow();
    uint32_t slot = hash(name) & (capacity_ - 1);
    for (; slots_[slot] != 0; slot = (slot + 1) & (capacity_ - 1)) {
        Name& known = names_[slots_[slot] - 1];
        if (equal_folded(known.text, name)) {
            if (known.count++ == 1)
                known.second = rt::Text::copy(name).release();
            return known.count;
        }
    }
    names_[count_] = Name{rt::Text::copy(name).release(), nullptr, 1};
    slots_[slot] = ++count_;
    return 1;
}

const char* NameCounts::first_duplicate() const {
    for (uint32_t i = 0; i < count_; ++i) {
        if (names_[i].count > 1)
            return names_[i].second;
    }
    return nullptr;
}

void NameCounts::reset() {
    for (uint32_t i = 0; i < count_; ++i) {
        rt_heap_free(names_[i].text);
        if (names_[i].second != nullptr)
            rt_heap_free(names_[i].second);
    }
    if (names_ != nullptr)
        rt_heap_free(names_);
    if (slots_ != nullptr)
        rt_heap_free(slots_);
    names_ = nullptr;
    slots_ = nullptr;
    capacity_ = count_ = 0;
}

// Room for twice the names: the slots stay at most half full.
void NameCounts::grow() {
    const uint32_t capacity = capacity_ == 0 ? 256 : capacity_ * 2;
    auto* names = static_cast<Name*>(rt_heap_new(capacity / 2 * sizeof(Name)));
    auto* slots = static_cast<uint32_t*>(rt_heap_new(capacity * sizeof(uint32_t)));
    for (uint32_t i = 0; i < capacity; ++i)
        slots[i] = 0;
    for (uint32_t i = 0; i < count_; ++i) {
        names[i] = names_[i];
        uint32_t slot = hash(names[i].text) & (capacity - 1);
        while (slots[slot] != 0)
            slot = (slot + 1) & (capacity - 1);
        slots[slot] = i + 1;
    }
    if (names_ != nullptr)
        rt_heap_free(names_);
    if (slots_ != nullptr)
        rt_heap_free(slots_);
    names_ = names;
    slots_ = slots;
    capacity_ = capacity;
}

}  // namespace common
