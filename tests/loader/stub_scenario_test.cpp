// The Linux stub run for real: programs built from the stub, a sample image
// and crafted packages, started with a private temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "base/byte_reader.h"
#include "loader/package/format.h"
#include "loader/package/writer.h"
#include "tests/support/test_support.h"

namespace loader {
namespace {

namespace fs = std::filesystem;
using test_support::read_bytes;
using test_support::ScratchDir;

std::vector<uint8_t> kernel_library(int flavour) {
    return read_bytes(NATIVE_BUILD_DIR "/tests/standin_kernel_" + std::to_string(flavour) + ".so");
}

std::vector<uint8_t> trailer_bytes(uint32_t length, uint32_t magic) {
    std::vector<uint8_t> bytes(8);
    base::store_le32(bytes.data(), length);
    base::store_le32(bytes.data() + 4, magic);
    return bytes;
}

PackageFields fields_for(std::span<const RuntimeFile> files, uint32_t folder_number = 0x1A2B) {
    std::vector<uint8_t> list = encode_file_list(files);
    PackageFields fields = default_package_fields();
    fields.folder_number = folder_number;
    fields.scramble_key = 0x5EC0A7F1;
    fields.unpacked_size = static_cast<uint32_t>(list.size());
    fields.stream = zlib_compress(list, 6);
    return fields;
}

class StubScenario : public ::testing::Test {
  protected:
    fs::path temp() const { return scratch_ / "tmp"; }
    fs::path runtime_folder(const std::string& name = "E_N1A2B") const { return temp() / name; }

    void SetUp() override { fs::create_directory(temp()); }

    // The stub with the image attached, followed by `tail` as is.
    fs::path program_with_tail(std::span<const uint8_t> tail, const std::string& name = "prog") {
        auto program = test_support::make_program(stub_, image_, {});
        program.resize(program.size() - 8);  // make_program's trailer for the empty package
        program.insert(program.end(), tail.begin(), tail.end());
        fs::path path = scratch_ / name;
        test_support::write_bytes(path, program, true);
        return path;
    }

    fs::path program(std::span<const uint8_t> package, const std::string& name = "prog") {
        fs::path path = scratch_ / name;
        test_support::write_bytes(path, test_support::make_program(stub_, image_, package), true);
        return path;
    }

    fs::path program(std::span<const RuntimeFile> files, const std::string& name = "prog") {
        return program(build_package(fields_for(files)), name);
    }

    std::vector<std::string> environment(std::vector<std::string> extra = {}) const {
        extra.push_back("TMPDIR=" + temp().string());
        extra.push_back("WJRT_TRANSCRIPT=" + (scratch_ / "transcript").string());
        return extra;
    }

    test_support::RunResult launch(const fs::path& path, std::vector<std::string> extra = {}) {
        return test_support::run({path.string()}, environment(std::move(extra)));
    }

    std::string transcript() const { return test_support::read_text(scratch_ / "transcript"); }
    std::string handoff_line() const {
        return "handoff image-aligned=yes in-section=n/a head=" + test_support::hex_head(image_) +
               "\n";
    }

    void expect_failure(const test_support::RunResult& result, const std::string& message) {
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "Error: " + message + "\n");
        EXPECT_EQ(transcript(),
                  "msgbox title=\"Error\" icon=error buttons=ok text=\"" + message + "\"\n");
    }

    ScratchDir scratch_;
    std::vector<uint8_t> stub_ = read_bytes(NATIVE_BUILD_DIR "/loader/stub");
    std::vector<uint8_t> image_ = test_support::sample_image(12345);
};

TEST_F(StubScenario, GoodPackageReachesTheKernelWithTheImage) {
    const RuntimeFile files[] = {
        {"krnln.fne", kernel_library(0)}, {"support.fne", {1, 2, 3}}, {"empty.dat", {}}};
    auto result = launch(program(files));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(transcript(), handoff_line());

    struct stat st;
    ASSERT_EQ(stat(runtime_folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the runtime folder is the user's alone";
    for (const RuntimeFile& file : files)
        EXPECT_EQ(read_bytes(runtime_folder() / file.name), file.content) << file.name;
}

TEST_F(StubScenario, EachFailureShowsItsMessage) {
    const RuntimeFile good_files[] = {{"krnln.fne", kernel_library(0)}};
    auto package_with = [&](std::function<void(PackageFields&)> change) {
        PackageFields fields = fields_for(good_files);
        change(fields);
        return build_package(fields);
    };
    auto with_trailer = [](std::vector<uint8_t> package, uint32_t length, uint32_t magic) {
        auto trailer = trailer_bytes(length, magic);
        package.insert(package.end(), trailer.begin(), trailer.end());
        return package;
    };
    std::vector<uint8_t> good = build_package(fields_for(good_files));
    std::vector<uint8_t> bigger_list = encode_file_list(good_files);

    struct Case {
        const char* what;
        std::vector<uint8_t> tail;  // package and trailer
        const char* message;
    };
    auto packaged = [&](std::vector<uint8_t> package) {
        return with_trailer(package, static_cast<uint32_t>(package.size()), kPackageMagic);
    };
    auto files_package = [&](std::vector<RuntimeFile> files) {
        return packaged(build_package(fields_for(files)));
    };
    const Case cases[] = {
        {"wrong trailer magic", with_trailer(good, static_cast<uint32_t>(good.size()), 0x12345678),
         "Invalid data in the file!"},
        {"package longer than the file", with_trailer(good, 0x7FFFFFF0, kPackageMagic),
         "Invalid data in the file!"},
        {"wrong leading magic", packaged(package_with([](PackageFields& f) { f.magic = 0; })),
         "Failed to read file or invalid data in file!"},
        {"package of 20 bytes", packaged(std::vector<uint8_t>(good.begin(), good.begin() + 20)),
         "Invalid data in the file!"},
        {"package of 21 bytes", packaged(package_with([](PackageFields& f) { f.stream.clear(); })),
         "Failed to decompress data!"},
        {"wrong data magic", packaged(package_with([](PackageFields& f) { f.data_magic = 1; })),
         "Invalid data in the file!"},
        {"unpacked size 0", packaged(package_with([](PackageFields& f) { f.unpacked_size = 0; })),
         "Invalid data in the file!"},
        {"inflates to more than announced",
         packaged(package_with([](PackageFields& f) { f.unpacked_size -= 1; })),
         "Failed to decompress data!"},
        {"entry cut short", packaged(package_with([&](PackageFields& f) {
             std::vector<uint8_t> cut(bigger_list.begin(), bigger_list.end() - 1);
             f.unpacked_size = static_cast<uint32_t>(cut.size());
             f.stream = zlib_compress(cut, 6);
         })),
         "Invalid data in the file!"},
        {"entry name leaving the folder",
         files_package({{"krnln.fne", kernel_library(0)}, {"../escaped", {1}}}),
         "Invalid data in the file!"},
        {"empty list", packaged(package_with([](PackageFields& f) {
             f.unpacked_size = 1;  // announced, but the stream inflates to nothing
             f.stream = zlib_compress({}, 6);
         })),
         "Not found the kernel library!"},
        {"kernel is not a library", files_package({{"krnln.fne", {1, 2, 3, 4}}}),
         "Failed to load kernel library!"},
        {"kernel without GetNewSock", files_package({{"krnln.fne", kernel_library(2)}}),
         "The kernel library is invalid!"},
        {"GetNewSock refuses", files_package({{"krnln.fnr", kernel_library(1)}}),
         "The interface of kernel library is invalid!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(temp());
        fs::create_directory(temp());
        fs::remove(scratch_ / "transcript");
        expect_failure(launch(program_with_tail(c.tail)), c.message);
    }
    EXPECT_FALSE(fs::exists(temp() / "escaped"));
}

TEST_F(StubScenario, TemporaryFolderTooDeep) {
    const RuntimeFile files[] = {{"krnln.fne", kernel_library(0)}};
    fs::path path = program(files);
    auto result = test_support::run({path.string()},
                                    {"TMPDIR=/" + std::string(5000, 'a'),
                                     "WJRT_TRANSCRIPT=" + (scratch_ / "transcript").string()});
    expect_failure(result, "Can't retrieve the temporary directory!");
}

TEST_F(StubScenario, ListWithoutKernelStillWritesEveryFile) {
    const RuntimeFile files[] = {{"one.fne", {1}}, {"two.fne", {2, 2}}};
    expect_failure(launch(program(files)), "Not found the kernel library!");
    EXPECT_EQ(read_bytes(runtime_folder() / "one.fne"), files[0].content);
    EXPECT_EQ(read_bytes(runtime_folder() / "two.fne"), files[1].content);
}

TEST_F(StubScenario, LaterEntriesWinAndTheLastKernelNameLoads) {
    const RuntimeFile files[] = {{"KRNLN.FNR", kernel_library(2)},
                                 {"krnln.fne", kernel_library(0)},
                                 {"same.dat", {1}},
                                 {"same.dat", {2, 2}}};
    auto result = launch(program(files));
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(transcript(), handoff_line());
    EXPECT_EQ(read_bytes(runtime_folder() / "same.dat"), (std::vector<uint8_t>{2, 2}));
}

TEST_F(StubScenario, NamedFolderAndCapitalKernelName) {
    const RuntimeFile files[] = {{"KRNLN.FNR", kernel_library(0)}};
    PackageFields fields = fields_for(files);
    fields.folder_name = "R";
    EXPECT_EQ(launch(program(build_package(fields))).exit_code, 0);
    EXPECT_EQ(transcript(), handoff_line());
    EXPECT_TRUE(fs::exists(runtime_folder("R") / "KRNLN.FNR"));
    EXPECT_FALSE(fs::exists(runtime_folder()));
}

// What another user (or a stale link) may have left where the runtime goes.
TEST_F(StubScenario, UntrustedRuntimeFolderOrFileIsRefused) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to plant files of another owner";
    const RuntimeFile files[] = {{"krnln.fne", kernel_library(0)}};
    fs::path path = program(files);
    fs::path elsewhere = scratch_ / "elsewhere";
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"folder of another user",
         [&] {
             fs::create_directory(runtime_folder());
             ASSERT_EQ(chown(runtime_folder().c_str(), 65534, 65534), 0);
         }},
        {"folder writable by others",
         [&] {
             fs::create_directory(runtime_folder());
             fs::permissions(runtime_folder(), fs::perms::all);
         }},
        {"folder is a link", [&] { fs::create_directory_symlink(elsewhere, runtime_folder()); }},
        {"kernel file is a link",
         [&] {
             fs::create_directory(runtime_folder());
             fs::permissions(runtime_folder(), fs::perms::owner_all);
             fs::create_symlink(elsewhere / "krnln.fne", runtime_folder() / "krnln.fne");
         }},
        {"kernel file of another user",
         [&] {
             fs::create_directory(runtime_folder());
             fs::permissions(runtime_folder(), fs::perms::owner_all);
             test_support::write_bytes(runtime_folder() / "krnln.fne", kernel_library(0));
             ASSERT_EQ(chown((runtime_folder() / "krnln.fne").c_str(), 65534, 65534), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(temp());
        fs::remove_all(elsewhere);
        fs::create_directory(temp());
        fs::create_directory(elsewhere);
        fs::remove(scratch_ / "transcript");
        c.plant();
        expect_failure(launch(path), "Failed to load kernel library!");
        EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing written through a link";
    }
}

TEST_F(StubScenario, WarmStartLeavesFilesAloneAndRepairsChangedOnes) {
    const RuntimeFile files[] = {{"krnln.fne", kernel_library(0)}, {"data.fne", {1, 2, 3}}};
    fs::path path = program(files);
    ASSERT_EQ(launch(path).exit_code, 0);
    auto inode = [&](const char* name) {
        struct stat st;
        stat((runtime_folder() / name).c_str(), &st);
        return st.st_ino;
    };
    const ino_t kernel_inode = inode("krnln.fne");

    ASSERT_EQ(launch(path).exit_code, 0);  // warm: stamp valid
    EXPECT_EQ(inode("krnln.fne"), kernel_inode);

    for (auto& entry : fs::directory_iterator(runtime_folder())) {
        if (entry.path().filename().string().starts_with(".loader-stamp-"))
            fs::remove(entry.path());
    }
    ASSERT_EQ(launch(path).exit_code, 0);  // no stamp: contents compared, equal files kept
    EXPECT_EQ(inode("krnln.fne"), kernel_inode);

    test_support::write_bytes(runtime_folder() / "data.fne", std::vector<uint8_t>{9, 9, 9});
    ASSERT_EQ(launch(path).exit_code, 0);  // changed behind the stamp's back
    EXPECT_EQ(read_bytes(runtime_folder() / "data.fne"), files[1].content);
    EXPECT_EQ(transcript(), handoff_line() + handoff_line() + handoff_line() + handoff_line());
}

TEST_F(StubScenario, SecondInstanceStartsWhileTheFirstRuns) {
    // The second program carries a different kernel file under the same
    // folder name: it must replace the file without disturbing the first
    // instance, which has the old one mapped and still runs code from it.
    std::vector<uint8_t> other_kernel = kernel_library(0);
    other_kernel.resize(other_kernel.size() + 4096, 0);
    const RuntimeFile first_files[] = {{"krnln.fne", kernel_library(0)}};
    const RuntimeFile second_files[] = {{"krnln.fne", other_kernel}};
    fs::path first = program(first_files, "first");
    fs::path second = program(second_files, "second");
    fs::path release = scratch_ / "release";

    int pid =
        test_support::start({first.string()}, environment({"STANDIN_HOLD=" + release.string()}));
    for (int i = 0; i < 2000 && transcript().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(transcript(), handoff_line()) << "the first instance reached its hand-off";

    auto result = launch(second);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(read_bytes(runtime_folder() / "krnln.fne"), other_kernel);

    test_support::write_bytes(release, std::vector<uint8_t>{});
    EXPECT_EQ(test_support::wait_for(pid), 0) << "the first instance ended normally";
    EXPECT_EQ(transcript(), handoff_line() + handoff_line());
}

}  // namespace
}  // namespace loader
