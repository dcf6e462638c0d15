#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "code/DownloadMemo.h"
#include "code/Sha256.h"
#include "seams/Files.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

std::string Digest(const std::string& text, size_t piece) {
    Sha256 sha;
    for (size_t at = 0; at < text.size(); at += piece)
        sha.Add(reinterpret_cast<const uint8_t*>(text.data()) + at, std::min(piece, text.size() - at));
    return sha.HexDigest();
}

// Published test vectors, fed whole and in awkward pieces (across the 64-byte blocks).
TEST(Sha256, KnownDigestsWhateverThePieces) {
    const struct {
        std::string text, digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& v : vectors)
        for (size_t piece : {size_t(1), size_t(7), size_t(64), size_t(1000000)}) {
            SCOPED_TRACE(std::to_string(v.text.size()) + " bytes in pieces of " + std::to_string(piece));
            EXPECT_EQ(Digest(v.text, piece), v.digest);
        }
}

// Codes with one 16-bit sum are told apart, and so are two ranges of one code.
TEST(DownloadMemo, TellsCodesWithOneSumApartAndIsSharedThroughItsFile) {
    std::vector<uint8_t> a(0x100, 0xFF), b = a;
    a[0x10] = 0x01, a[0x11] = 0x02;
    b[0x10] = 0x02, b[0x11] = 0x01;  // the same byte sum
    EXPECT_NE(DownloadDigest(a, 0, 0xFF), DownloadDigest(b, 0, 0xFF));
    EXPECT_NE(DownloadDigest(a, 0, 0xFF), DownloadDigest(a, 0, 0xFE));
    EXPECT_EQ(DownloadDigest(a, 0, 0xFF), DownloadDigest(std::vector<uint8_t>(a), 0, 0xFF));

    test::TempDir dir;
    const std::string path = dir.File("state/downloads");
    DownloadMemo window(path), cli(path);
    EXPECT_EQ(cli.Last("COM3"), std::nullopt);
    window.Remember("COM3", DownloadDigest(a, 0, 0xFF));
    window.Remember("COM4", DownloadDigest(b, 0, 0xFF));
    EXPECT_EQ(cli.Last("COM3"), DownloadDigest(a, 0, 0xFF));
    window.Remember("COM3", DownloadDigest(b, 0, 0xFF));  // the later download replaces it
    EXPECT_EQ(cli.Last("COM3"), DownloadDigest(b, 0, 0xFF));
    cli.Forget("COM3");
    EXPECT_EQ(window.Last("COM3"), std::nullopt);
    EXPECT_EQ(window.Last("COM4"), DownloadDigest(b, 0, 0xFF));

    // A line cut short by a power cut names nothing.
    std::string text;
    ASSERT_TRUE(ReadFileBytes(path, text));
    ASSERT_TRUE(WriteFileReplacing(path, text + "COM5\t" + DownloadDigest(a, 0, 0xFF).substr(0, 30)));
    EXPECT_EQ(cli.Last("COM5"), std::nullopt);
    EXPECT_EQ(cli.Last("COM4"), DownloadDigest(b, 0, 0xFF));
}

}  // namespace
}  // namespace veldrix
