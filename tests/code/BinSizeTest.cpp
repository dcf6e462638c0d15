#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>

#include "state/ControlIds.h"
#include "code/CodeFile.h"
#include "tests/support/TestApp.h"

namespace veldrix {
namespace {

constexpr uintmax_t kHuge = uintmax_t(8) << 30;  // sparse: no disk space used

// A file of the given size without writing its bytes.
std::string SparseFile(const test::TempDir& dir, const std::string& name, uintmax_t size) {
    std::string path = dir.Write(name, "");
    std::filesystem::resize_file(path, size);
    return path;
}

// The process's address space now, in bytes.
uintmax_t AddressSpaceInUse() {
    unsigned long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return uintmax_t(pages) * uintmax_t(sysconf(_SC_PAGESIZE));
}

// In a child whose address space has 256 MB to spare: 0 when LoadBinFile
// refused the file, left the buffer filled and wrote no status text; 2 when
// it ran out of memory, which only reading the file could do.
int LoadUnderMemoryLimit(const std::string& path) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t(AddressSpaceInUse() + (uintmax_t(256) << 20));
    if (setrlimit(RLIMIT_AS, &limit) != 0) return 3;
    try {
        test::TestApp app;
        app.CreateControls();
        app.ui.SetText(id::kStatusLine, "before");
        std::fill(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.end(), uint8_t(0));
        if (LoadBinFile(app.ctx, path) != 0) return 4;
        bool filled = std::all_of(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.end(),
                                  [](uint8_t b) { return b == 0xFF; });
        if (!filled) return 5;
        if (app.ui.GetText(id::kStatusLine) != "before") return 6;
        return 0;
    } catch (const std::bad_alloc&) {
        return 2;
    }
}

TEST(BinSize, FileBeyondTheBufferIsRefusedWithoutReadingIt) {
    test::TempDir dir;
    std::string path = SparseFile(dir, "huge.bin", kHuge);
    EXPECT_EXIT(std::_Exit(LoadUnderMemoryLimit(path)), ::testing::ExitedWithCode(0), "");
}

TEST(BinSize, SizeIsTakenFromTheFileNamedInUtf8) {
    test::TempDir dir;
    std::string path = SparseFile(dir, "程序代码.bin", kHuge);
    EXPECT_EXIT(std::_Exit(LoadUnderMemoryLimit(path)), ::testing::ExitedWithCode(0), "");
}

TEST(BinSize, EndlessDeviceIsRefusedAtTheBufferEnd) {
    // No size to take beforehand: the read itself has to stop.
    ASSERT_TRUE(std::filesystem::exists("/dev/zero"));
    EXPECT_EXIT(std::_Exit(LoadUnderMemoryLimit("/dev/zero")), ::testing::ExitedWithCode(0), "");
}

TEST(BinSize, LimitIsTheBufferSize) {
    test::TempDir dir;
    test::TestApp app;
    app.CreateControls();
    // Exactly the buffer: every byte comes from the file.
    EXPECT_EQ(LoadBinFile(app.ctx, SparseFile(dir, "full.bin", kImageSize)), kImageSize);
    EXPECT_TRUE(std::all_of(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.end(), [](uint8_t b) { return b == 0; }));
    // One byte more: refused, the buffer as a failed load leaves it.
    EXPECT_EQ(LoadBinFile(app.ctx, SparseFile(dir, "over.bin", kImageSize + 1)), 0u);
    EXPECT_TRUE(
        std::all_of(app.ctx.codeBuffer.begin(), app.ctx.codeBuffer.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(BinSize, MissingFileStillReportsTheOpenFailure) {
    test::TempDir dir;
    test::TestApp app;
    app.CreateControls();
    EXPECT_EQ(LoadBinFile(app.ctx, dir.File("missing.bin")), 0u);
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), "打开文件错误,操作失败");
    // A directory cannot be read as a code file either.
    app.ui.SetText(id::kStatusLine, "");
    EXPECT_EQ(LoadBinFile(app.ctx, dir.Path().string()), 0u);
    EXPECT_EQ(app.ui.GetText(id::kStatusLine), "打开文件错误,操作失败");
}

}  // namespace
}  // namespace veldrix
