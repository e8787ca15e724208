#include "loader/stub/start.h"

#include <array>
#include <cstdlib>
#include <memory>
#include <new>

#include "contract/kernel_handoff.h"
#include "loader/package/reader.h"
#include "loader/stub/os.h"
#include "loader/stub/warm_stamp.h"

namespace loader {

namespace {

using base::fail;

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};
using HeapBuffer = std::unique_ptr<uint8_t[], FreeDeleter>;

HeapBuffer allocate(size_t size) {
    return HeapBuffer(static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size)));
}

// Everything prepared for the hand-off.
struct Prepared {
    const void* image = nullptr;
    HandOffEntry entry = nullptr;
};

struct RuntimeFolder {
    os::Path path;  // with its trailing separator
};

LoadResult<std::unique_ptr<os::ReadOnlyFile>> open_own_file() {
    auto path = os::own_executable();
    if (!path)
        return fail(LoadError::CantOpenFile);
    auto file = os::open_read_only(*path);
    if (!file)
        return fail(LoadError::CantOpenFile);
    return file;
}

LoadResult<PackageExtent> read_trailer(os::ReadOnlyFile& file) {
    auto size = file.size();
    if (!size)
        return fail(LoadError::TrailerReadFailed);
    if (*size < kMinTrailerPosition + kTrailerSize)
        return fail(LoadError::InvalidData);
    std::array<uint8_t, kTrailerSize> trailer;
    if (!file.read_at(*size - kTrailerSize, trailer))
        return fail(LoadError::TrailerReadFailed);
    return locate_package(*size, trailer);
}

// The package, straight from the mapped file: a warm start reads no more of
// it than its header and its last four bytes.
LoadResult<std::span<const uint8_t>> read_package(os::ReadOnlyFile& file,
                                                  const PackageExtent& extent) {
    auto mapped = file.map();
    if (!mapped || extent.offset > mapped->size() || extent.length > mapped->size() - extent.offset)
        return fail(LoadError::PackageReadFailed);
    std::span<const uint8_t> package = mapped->subspan(extent.offset, extent.length);
    TRY(check_package_magic(package));
    return package;
}

LoadResult<RuntimeFolder> make_runtime_folder(const PackageHeader& header) {
    auto temp = os::temp_folder();
    if (!temp)
        return fail(LoadError::NoTempFolder);
    // A temporary folder so deep that the runtime folder path does not fit
    // is as unusable as none.
    auto folder = os::join(*temp, header.folder_name);
    if (!folder)
        return fail(LoadError::NoTempFolder);
    // An unusable runtime folder leaves the kernel library unloadable.
    if (!os::prepare_private_folder(*folder))
        return fail(LoadError::KernelLoadFailed);
    return RuntimeFolder{os::with_separator(*folder)};
}

// The kernel library's name when the folder still holds what the stamp says.
std::optional<std::string> warm_kernel_name(const RuntimeFolder& folder,
                                            const PackageIdentity& identity) {
    auto stamp_path = os::join(folder.path, stamp_file_name(identity));
    if (!stamp_path)
        return std::nullopt;
    auto stamp = os::read_trusted_file(*stamp_path, kMaxStampSize);
    if (!stamp)
        return std::nullopt;
    auto files = decode_stamp(*stamp, identity);
    if (!files)
        return std::nullopt;
    std::optional<std::string> kernel;
    for (const StampedFile& file : *files) {
        auto path = os::join(folder.path, file.name);
        if (!path || os::identify_trusted_file(*path) != file.identity)
            return std::nullopt;
        if (is_kernel_library_name(file.name))
            kernel = file.name;
    }
    return kernel;
}

void write_stamp(const RuntimeFolder& folder, const PackageIdentity& identity,
                 std::span<const RuntimeFileView> files) {
    std::vector<StampedFile> stamped;
    for (const RuntimeFileView& file : files) {
        auto path = os::join(folder.path, file.name);
        auto present = path ? os::identify_trusted_file(*path) : std::nullopt;
        if (!present)
            return;
        stamped.push_back({std::string(file.name), *present});
    }
    if (auto path = os::join(folder.path, stamp_file_name(identity)))
        os::install_file(*path, encode_stamp(identity, stamped));
}

// Decompresses the list and writes every runtime file; gives the kernel
// library's name.
LoadResult<std::string> unpack_runtime(std::span<const uint8_t> package,
                                       const PackageHeader& header, const RuntimeFolder& folder,
                                       const PackageIdentity& identity) {
    HeapBuffer unpacked = allocate(header.unpacked_size);
    if (!unpacked)
        return fail(LoadError::OutOfMemory);
    size_t produced = TRY(decompress(package, header, {unpacked.get(), header.unpacked_size}));

    auto files = TRY(parse_file_list({unpacked.get(), produced}));
    for (const RuntimeFileView& file : files) {
        auto path = os::join(folder.path, file.name);
        if (!path)
            return fail(LoadError::InvalidData);
        if (os::install_file(*path, file.content) == os::InstallResult::Failed)
            return fail(LoadError::KernelLoadFailed);
    }
    auto kernel = find_kernel_library(files);
    if (!kernel)
        return fail(LoadError::KernelNotFound);
    write_stamp(folder, identity, files);
    return std::string(files[*kernel].name);
}

LoadResult<HandOffEntry> load_kernel(const RuntimeFolder& folder, const std::string& name) {
    auto path = os::join(folder.path, name);
    if (!path)
        return fail(LoadError::KernelLoadFailed);
    void* library = os::load_library(*path);
    if (library == nullptr)
        return fail(LoadError::KernelLoadFailed);
    auto get_new_sock =
        reinterpret_cast<GetNewSockFunction>(os::find_export(library, KERNEL_GETNEWSOCK_EXPORT));
    if (get_new_sock == nullptr)
        return fail(LoadError::KernelInvalid);
    intptr_t entry = get_new_sock(KERNEL_HANDOFF_REQUEST);
    if (entry == 0)
        return fail(LoadError::KernelInterfaceInvalid);
    return reinterpret_cast<HandOffEntry>(entry);
}

LoadResult<Prepared> prepare() {
    auto file = TRY(open_own_file());
    PackageExtent extent = TRY(read_trailer(*file));
    std::span<const uint8_t> package = TRY(read_package(*file, extent));
    if (!os::temp_folder())
        return fail(LoadError::NoTempFolder);
    PackageHeader header = TRY(parse_header(package));

    const void* image = os::find_program_image(*file);
    if (image == nullptr)
        return fail(LoadError::InvalidData);

    RuntimeFolder folder = TRY(make_runtime_folder(header));
    PackageIdentity identity = identify_package(package, header);
    std::optional<std::string> kernel = warm_kernel_name(folder, identity);
    if (!kernel)
        kernel = TRY(unpack_runtime(package, header, folder, identity));

    return Prepared{image, TRY(load_kernel(folder, *kernel))};
}

}  // namespace

void start_program() {
    auto prepared = prepare();
    if (prepared.is_error()) {
        os::report_failure(prepared.error().c_str());
        return;
    }
    prepared.value().entry(prepared.value().image);
}

}  // namespace loader
