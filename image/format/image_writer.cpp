// Writing a program image: the layout follows from the model alone.
#include <cstring>

#include "base/byte_reader.h"
#include "image/format/image.h"

namespace image {

namespace {

void append_u16(std::vector<uint8_t>& out, uint16_t value) {
    uint8_t bytes[2];
    base::store_le16(bytes, value);
    out.insert(out.end(), bytes, bytes + 2);
}

void append_u32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    base::store_le32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void append_text(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

void append_image_header(std::vector<uint8_t>& out, const ImageHeader& header) {
    append_u16(out, header.magic);
    out.insert(out.end(), 0x24 - 0x02, 0);
    append_u32(out, header.first_segment);
    append_u32(out, header.constant_1);
    append_u32(out, header.constant_3);
    append_u32(out, header.architecture);
    append_u32(out, header.next_free_id);
    append_u32(out, header.dll_count);
    append_u32(out, header.start_routine);
    append_u32(out, header.const_segment);
    append_u32(out, header.form_segment);
    append_u32(out, header.help_segment);
    append_u32(out, header.code_segment);
    append_u32(out, header.var_segment);
    append_u32(out, header.first_segment_again);
}

void append_segment_header(std::vector<uint8_t>& out, const SegmentHeader& header) {
    append_u32(out, header.header_length);
    append_u32(out, header.next_header);
    append_u32(out, header.flags);
    out.insert(out.end(), header.name, header.name + SegmentHeader::kNameSize);
    append_u32(out, header.memory_size);
    append_u32(out, header.stored_size);
    append_u32(out, header.data_offset);
    append_u32(out, header.fixup_count);
    append_u32(out, header.zero);
}

std::vector<uint8_t> encode_library_list(const std::vector<LibraryEntry>& libraries) {
    std::vector<uint8_t> out;
    for (const LibraryEntry& entry : libraries) {
        const std::string* fields[] = {&entry.name, &entry.identifier, &entry.major, &entry.minor,
                                       &entry.description};
        for (size_t i = 0; i < kLibraryFieldCount; ++i) {
            if (i > 0)
                out.push_back(kLibraryFieldSeparator);
            out.insert(out.end(), fields[i]->begin(), fields[i]->end());
        }
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

std::vector<uint8_t> encode_relocations(const RelocationLists& lists) {
    std::vector<uint8_t> out;
    for (const std::vector<uint32_t>* list : {&lists.identifiers, &lists.dll_numbers,
                                              &lists.library_positions, &lists.type_references}) {
        append_u32(out, static_cast<uint32_t>(list->size()));
        for (uint32_t offset : *list)
            append_u32(out, offset);
    }
    return out;
}

// One segment as it will be written.
struct PlannedSegment {
    std::span<const uint8_t> data;  // stored data; none for var
    std::span<const Fixup> fixups;
    uint32_t memory_size;
    uint64_t header_offset = 0;
    uint64_t header_length() const { return SegmentHeader::kSize + 4 * uint64_t{fixups.size()}; }
    uint64_t end() const { return header_offset + header_length() + data.size(); }
};

}  // namespace

ImageResult<std::vector<uint8_t>> write_image(const Image& image) {
    TRY(check_image(image));

    // Const data: the model's, then each declaration's library and function names.
    std::vector<uint8_t> const_data = image.const_segment.data;
    std::vector<uint32_t> library_names, function_names;
    for (const DllDeclaration& dll : image.dlls) {
        library_names.push_back(static_cast<uint32_t>(const_data.size()));
        append_text(const_data, dll.library);
        function_names.push_back(static_cast<uint32_t>(const_data.size()));
        append_text(const_data, dll.function);
    }
    const std::vector<uint8_t> library_list = encode_library_list(image.libraries);
    const std::vector<uint8_t> form = encode_form(image.windows);
    const std::vector<uint8_t> help(kHelpSize, 0);
    const std::vector<uint8_t> relocations = encode_relocations(image.relocations);

    PlannedSegment segments[kSegmentCount] = {
        {const_data, image.const_segment.fixups, 0},
        {form, {}, 0},
        {help, {}, 0},
        {image.code.data, image.code.fixups, 0},
        {{}, {}, image.var_size},
        {relocations, {}, 0},
    };
    const uint64_t header_area =
        ImageHeader::kSize + 8 * uint64_t{image.dlls.size()} + library_list.size();
    uint64_t position = header_area;
    for (size_t i = 0; i < kSegmentCount; ++i) {
        PlannedSegment& segment = segments[i];
        if (i != kVarSegment)
            segment.memory_size = static_cast<uint32_t>(segment.data.size());
        segment.header_offset = position;
        position = segment.end();
        if (position > 0xFFFFFFFF)
            return base::fail(std::string("the image would be larger than 4 GiB"));
    }

    std::vector<uint8_t> out;
    out.reserve(position);
    ImageHeader header{};
    header.magic = ImageHeader::kMagic;
    header.first_segment = static_cast<uint32_t>(header_area);
    header.constant_1 = 1;
    header.constant_3 = 3;
    header.architecture = static_cast<uint32_t>(image.architecture);
    header.next_free_id = image.next_free_id;
    header.dll_count = static_cast<uint32_t>(image.dlls.size());
    header.start_routine = image.start_routine;
    header.const_segment = static_cast<uint32_t>(segments[kConstSegment].header_offset);
    header.form_segment = static_cast<uint32_t>(segments[kFormSegment].header_offset);
    header.help_segment = static_cast<uint32_t>(segments[kHelpSegment].header_offset);
    header.code_segment = static_cast<uint32_t>(segments[kCodeSegment].header_offset);
    header.var_segment = static_cast<uint32_t>(segments[kVarSegment].header_offset);
    header.first_segment_again = header.first_segment;
    append_image_header(out, header);
    for (uint32_t offset : library_names)
        append_u32(out, offset);
    for (uint32_t offset : function_names)
        append_u32(out, offset);
    out.insert(out.end(), library_list.begin(), library_list.end());

    for (size_t i = 0; i < kSegmentCount; ++i) {
        const PlannedSegment& segment = segments[i];
        const bool stored = i != kVarSegment;
        const uint64_t data_offset = segment.header_offset + segment.header_length();
        SegmentHeader record{};
        record.header_length = static_cast<uint32_t>(segment.header_length());
        record.next_header =
            i + 1 < kSegmentCount ? static_cast<uint32_t>(segment.end()) : SegmentHeader::kNoNext;
        record.flags = kSegmentFlags[i];
        std::memcpy(record.name, kSegmentNames[i].data(), kSegmentNames[i].size());
        record.memory_size = segment.memory_size;
        record.stored_size = static_cast<uint32_t>(segment.data.size());
        record.data_offset = stored ? static_cast<uint32_t>(data_offset) : SegmentHeader::kNoData;
        record.fixup_count = static_cast<uint32_t>(segment.fixups.size());
        record.zero = 0;
        append_segment_header(out, record);
        for (const Fixup& fixup : segment.fixups)
            append_u32(out, fixup.encode());
        out.insert(out.end(), segment.data.begin(), segment.data.end());
    }
    return out;
}

}  // namespace image
