// The names met by one walk over a folder tree, in their order, and how
// often each occurs, compared by their exact bytes: a generation or an
// update that meets two files of one bare name must not let the second
// overwrite the first. Freestanding: for program images.
#pragma once

#include <stdint.h>

namespace common {

class NameCounts {
  public:
    NameCounts() = default;
    NameCounts(const NameCounts&) = delete;
    NameCounts& operator=(const NameCounts&) = delete;
    ~NameCounts() { reset(); }

    // Adds a name; gives how often it occurs now.
    uint32_t add(const char* name);

    // The first name, in the order of adding, that occurs more than once;
    // null when none does.
    const char* first_duplicate() const;

    void reset();

  private:
    struct Name {
        char* text;
        uint32_t count;
    };

    void grow();

    Name* names_ = nullptr;
    uint32_t* slots_ = nullptr;  // name index + 1, 0 when free
    uint32_t capacity_ = 0;      // slots; names has room for half of them
    uint32_t count_ = 0;
};

}  // namespace common
