// The names met by one walk over a folder tree, in their order, and how
// often each occurs: a generation that meets two files of one bare name must
// not let the second archive overwrite the first. Names are compared with
// A-Z folded outside two-byte characters (equal_folded), since the version
// folder, the server and a player's work folder may lie on file systems
// that ignore letter case, where "Same.txt.zip" and "same.txt.zip" are one
// file. Freestanding: for program images.
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

    // For the first name, in the order of adding, that occurs more than
    // once: its second occurrence as it was spelt (a name added beforehand
    // to keep it taken is thus never the one reported); null when none is.
    const char* first_duplicate() const;

    void reset();

  private:
    struct Name {
        char* text;    // as first added
        char* second;  // as added the second time; null before
        uint32_t count;
    };

    void grow();

    Name* names_ = nullptr;
    uint32_t* slots_ = nullptr;  // name index + 1, 0 when free
    uint32_t capacity_ = 0;      // slots; names has room for half of them
    uint32_t count_ = 0;
};

}  // namespace common
