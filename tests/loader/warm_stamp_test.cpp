#include "loader/stub/warm_stamp.h"

#include <gtest/gtest.h>

#include "loader/package/writer.h"

namespace loader {
namespace {

const PackageIdentity kIdentity{1234, 0xBEEF, 0x01020304, 99999, 0xCAFEBABE};

TEST(WarmStamp, RoundTripKeepsNamesByteForByte) {
    const StampedFile files[] = {{"krnln.fne", {10, 20, 30}}, {"\xD6\xD0\xCE\xC4 name", {0, 1, 2}}};
    auto decoded = decode_stamp(encode_stamp(kIdentity, files), kIdentity);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2u);
    EXPECT_EQ((*decoded)[1].name, files[1].name);
    EXPECT_EQ((*decoded)[0].identity, files[0].identity);
}

TEST(WarmStamp, RefusesOtherPackagesAndDamage) {
    const StampedFile files[] = {{"krnln.fne", {10, 20, 30}}};
    std::vector<uint8_t> stamp = encode_stamp(kIdentity, files);
    PackageIdentity other = kIdentity;
    other.list_check ^= 1;
    EXPECT_FALSE(decode_stamp(stamp, other));

    std::vector<uint8_t> cut(stamp.begin(), stamp.end() - 3);
    EXPECT_FALSE(decode_stamp(cut, kIdentity));
    std::vector<uint8_t> odd = stamp;
    odd[odd.size() - 2] = 'Z';  // not a hexadecimal digit
    EXPECT_FALSE(decode_stamp(odd, kIdentity));
    EXPECT_FALSE(decode_stamp(encode_stamp(kIdentity, {}), kIdentity)) << "a stamp without files";
}

TEST(WarmStamp, IdentityFollowsTheListCheckValue) {
    const RuntimeFile a[] = {{"krnln.fne", {1, 2, 3}}};
    const RuntimeFile b[] = {{"krnln.fne", {1, 2, 4}}};
    std::vector<uint8_t> pa = build_package(a, 1, "", 7, 9);
    std::vector<uint8_t> pb = build_package(b, 1, "", 7, 9);
    auto ha = parse_header(pa);
    auto hb = parse_header(pb);
    ASSERT_FALSE(ha.is_error());
    ASSERT_FALSE(hb.is_error());
    EXPECT_NE(stamp_file_name(identify_package(pa, ha.value())),
              stamp_file_name(identify_package(pb, hb.value())));
    EXPECT_TRUE(stamp_file_name(identify_package(pa, ha.value())).starts_with(".loader-stamp-"));
}

}  // namespace
}  // namespace loader
