// The fifteen directory blocks, the operation password and the lock.
#include <gtest/gtest.h>

#include "tests/support/SimHost.h"
#include "state/OpCodes.h"

namespace veldrix::test {
namespace {

class FirmwareDirectory : public ::testing::Test {
protected:
    SimHost host;
    std::string password = sim::kFactoryPassword;

    CommandBlock Protected(uint8_t op, int block, uint32_t start = 0, uint32_t end = 0) {
        CommandBlock b = SimHost::Block(op, start, end);
        b[cb::kBlockNumber] = uint8_t(block);
        SimHost::SetPassword(b, password);
        return b;
    }
    std::vector<uint8_t> Code() {
        std::vector<uint8_t> code(0x200);
        for (size_t i = 0; i < code.size(); ++i) code[i] = uint8_t(i ^ 0xA5);
        return code;
    }
    static uint32_t Sum(const std::vector<uint8_t>& v) {
        uint32_t s = 0;
        for (uint8_t b : v) s += b;
        return s & 0xFFFF;
    }

    // The steps of making an offline file of memory 0..0x1FF in a block.
    void MakeFile(int block) {
        std::vector<uint8_t> code = Code();
        std::copy(code.begin(), code.end(), host.state.memory.begin());
        host.Open(Protected(op::kClearArea, block));
        ASSERT_EQ(host.Text(5), "OKPWD");
        ASSERT_EQ(host.Text(5, 300), "OK");

        CommandBlock config = Protected(op::kOfflineConfig, block);
        config.Put24(cb::kCounterCurrent, 41);
        config.Put24(cb::kCounterEnd, 99999);
        config.Put24(cb::kIdAddress, 0x0FFD);
        host.Open(config);
        ASSERT_EQ(host.Text(2, 100), "OK");
        std::vector<uint8_t> record(26, 0);
        std::string name = "firmware-v2.hex", chip = "S3F9454";
        std::copy(name.begin(), name.end(), record.begin());
        std::copy(chip.begin(), chip.end(), record.begin() + 16);
        host.Write(record);
        ASSERT_EQ(host.Text(2, 100), "OK");

        CommandBlock write = Protected(op::kOfflineCode, block, 0, 0x1FF);
        write.Put16(cb::kChecksum, Sum(code));
        host.Open(write);
        ASSERT_EQ(host.Text(2), "OK");
        ASSERT_GE(host.Progress(0x1FF).back(), 0x1FFu);

        host.Open(Protected(op::kOfflineChecksum, block, 0, 0x1FF));
        host.Text(2);
        ASSERT_EQ(host.Progress(0x1FF).back(), 0x1FFu);
        ASSERT_EQ(host.Word16(), Sum(code));

        host.Open(Protected(op::kOfflineVerify, block, 0, 0x1FF));
        ASSERT_EQ(host.Text(2), "OK");
        ASSERT_EQ(host.Progress(0x200).back(), 0x200u);

        CommandBlock cache = Protected(op::kClearArea, 0);
        host.Open(cache);
        ASSERT_EQ(host.Text(5, 1500), "OK");
    }
};

TEST_F(FirmwareDirectory, OfflineFileIsKeptAndSurvivesPowerOff) {
    MakeFile(3);
    host.state.powered = false;
    host.Sleep(1000);
    host.state.powered = true;

    host.Open(Protected(op::kReadFileInfo, 3));
    EXPECT_EQ(host.Text(6, 100), "OKFILE");
    std::vector<uint8_t> info = host.Reply(43, 100);
    ASSERT_EQ(info.size(), 43u);
    EXPECT_EQ(std::string(info.begin(), info.begin() + 16), std::string("firmware-v2.hex\0", 16));
    EXPECT_EQ(std::string(info.begin() + 16, info.begin() + 32), std::string("S3F9454\0\0\0\0\0\0\0\0\0", 16));
    uint32_t sum = Sum(Code());
    EXPECT_EQ(std::vector<uint8_t>(info.begin() + 32, info.end()),
              (std::vector<uint8_t>{uint8_t(sum >> 8), uint8_t(sum), 0x01, 0x86, 0x9F, 0x00, 0x0F, 0xFD, 0x00, 0x00, 41}));
    // Other blocks stay empty.
    host.Open(Protected(op::kReadFileInfo, 4));
    EXPECT_EQ(host.Text(6, 100), "NOFILE");
    host.state.vary.nofile = true;
    host.Open(Protected(op::kReadFileInfo, 4));
    EXPECT_EQ(host.Text(6, 100), "NO");
    host.Open(Protected(op::kReadFileInfo, 3));
    EXPECT_EQ(host.Text(6, 100), "OKFILE");
}

TEST_F(FirmwareDirectory, StoredFileReadsBackAndCopiesIntoMemory) {
    MakeFile(15);
    // The token before the data is passed over; the password verdict and
    // the copy's go-ahead are judged.
    host.state.vary.tokens = true;
    host.Open(Protected(op::kOfflineRead, 15, 0x1F0, 0x20F));
    EXPECT_EQ(host.Text(5), "OKPWD");
    EXPECT_EQ(host.Text(2), "AK");
    host.Sleep(200);
    std::vector<uint8_t> code = Code();
    std::vector<uint8_t> want(code.begin() + 0x1F0, code.end());
    want.resize(0x20, 0xFF);  // past the file's end
    EXPECT_EQ(host.Read(0x20), want);
    EXPECT_EQ(host.Word16(), Sum(want));

    EXPECT_EQ(host.state.memory[0x10], 0xFF) << "the clean-up clears the memory";
    host.Open(Protected(op::kCopyMaster, 15));
    EXPECT_EQ(host.Text(5), "OKPWD");
    EXPECT_EQ(host.Text(2), "OK");
    EXPECT_EQ(host.Reply(3, 50), (std::vector<uint8_t>{0x00, 0x01, 0xFF}));
    EXPECT_EQ(host.Progress(0x1FF).back(), 0x1FFu);
    EXPECT_TRUE(std::equal(code.begin(), code.end(), host.state.memory.begin()));

    host.Open(Protected(op::kCopyMaster, 14));
    EXPECT_EQ(host.Text(5), "OKPWD");
    EXPECT_EQ(host.Text(2), "NO") << "copy from an empty block";

    host.Open(Protected(op::kOfflineVerify, 15, 0, 0x1FF));
    EXPECT_EQ(host.Text(2), "AK");
    EXPECT_EQ(host.Progress(0x200).back(), 0x200u);
    host.Open(Protected(op::kOfflineChecksum, 15, 0, 0x1FF));
    EXPECT_EQ(host.Text(2), "AK");
    EXPECT_EQ(host.Progress(0x1FF).back(), 0x1FFu);
    EXPECT_EQ(host.Word16(), Sum(code));
}

TEST_F(FirmwareDirectory, VaryingProgressOfTheMasterChecksumNeverCrossesA64KBoundary) {
    sim::DirectoryBlock& file = host.state.blocks[1];
    file.holdsFile = true;
    file.start = 0;
    file.end = 0x1FFFF;
    file.code.resize(0x20000);
    for (size_t i = 0; i < file.code.size(); ++i) file.code[i] = uint8_t(i >> 3);
    host.state.vary.progress = true;
    struct Case {
        uint32_t start, end;
        std::vector<uint32_t> progress;
    };
    // The host keeps 16 bits of each address: 0x10000 would read as 0.
    const Case cases[] = {
        {0xFE00, 0xFFFF, {0xFF00, 0xFFFF}},
        {0xFE00, 0xFEFE, {0xFF00}},
        {0x1FE80, 0x1FFFF, {0x1FF80, 0x1FFFF}},
        {0x10000, 0x10010, {0x10100}},
    };
    for (const Case& c : cases) {
        host.Open(Protected(op::kOfflineChecksum, 2, c.start, c.end));
        EXPECT_EQ(host.Text(2), "OK");
        EXPECT_EQ(host.Progress(c.end), c.progress) << std::hex << c.start << ".." << c.end;
        uint32_t sum = 0;
        for (uint32_t a = c.start; a <= c.end; ++a) sum += file.code[a];
        EXPECT_EQ(host.Word16(), sum & 0xFFFF) << std::hex << c.start << ".." << c.end;
    }
}

TEST_F(FirmwareDirectory, DeleteAndCounterNeedThePassword) {
    MakeFile(1);
    password = "123456";
    host.Open(Protected(op::kClearArea, 1));
    EXPECT_EQ(host.Text(5), "NOPWD");
    host.Open(Protected(op::kSetCounter, 1));
    EXPECT_EQ(host.Text(5), "NOPWD");
    EXPECT_TRUE(host.state.blocks[0].holdsFile);

    password = sim::kFactoryPassword;
    CommandBlock counter = Protected(op::kSetCounter, 1);
    counter.Put24(cb::kCounterCurrent, 500);
    counter.Put24(cb::kCounterEnd, 600);
    counter.Put24(cb::kIdAddress, 0x1234);
    host.Open(counter);
    EXPECT_EQ(host.Text(5), "OKPWD");
    EXPECT_EQ(host.Text(2, 100), "OK");
    EXPECT_EQ(host.state.blocks[0].counterCurrent, 500u);
    EXPECT_EQ(host.state.blocks[0].counterEnd, 600u);
    EXPECT_EQ(host.state.blocks[0].idAddress, 0x1234u);

    // Deleting reads only "OKPWD"; the "OK" behind it must not land in the
    // next acknowledgement.
    CommandBlock next = SimHost::Block(op::kReadFileInfo);
    next[cb::kBlockNumber] = 1;
    host.Open(Protected(op::kClearArea, 1));
    EXPECT_EQ(host.Text(5), "OKPWD");
    auto s = host.Open(next);
    next[cb::kOpCode] |= 0x40;
    EXPECT_EQ(s.ack, std::vector<uint8_t>(next.bytes.begin(), next.bytes.end()));
    EXPECT_EQ(host.Text(6, 100), "NOFILE");
    // A slow unit is late with "OKPWD", not with the "OK" behind it.
    host.state.vary.slow = true;
    host.Open(Protected(op::kClearArea, 1));
    host.Sleep(1000);
    std::string sent;
    for (const sim::SimLine::Timed& t : host.line.toHost) sent.push_back(char(t.byte));
    ASSERT_EQ(sent, "OKPWDOK");
    EXPECT_LT(host.line.toHost[5].at - host.line.toHost[4].at, 1000u);
}

TEST_F(FirmwareDirectory, PasswordChangeTakesEightCharactersAndRetiresTheOldOne) {
    CommandBlock change = Protected(op::kSetPassword, 0);
    const std::string fresh = "Ab3$efGH";
    for (int i = 0; i < 6; ++i) change[cb::kStartAddress + i] = uint8_t(fresh[i]);
    change[cb::kChecksum] = uint8_t(fresh[6]);
    change[cb::kChecksum + 1] = uint8_t(fresh[7]);
    host.Open(change);
    EXPECT_EQ(host.Text(5, 100), "OKPWD");
    EXPECT_EQ(host.state.password, fresh);

    // The old one no longer opens anything.
    host.Open(Protected(op::kOfflineRead, 1, 0, 0xF));
    EXPECT_EQ(host.Text(5), "NOPWD");
    EXPECT_TRUE(host.Reply(2, 10).empty());

    // A short new password leaves the checksum bytes out.
    password = fresh;
    change = Protected(op::kSetPassword, 0);
    for (int i = 0; i < 6; ++i) change[cb::kStartAddress + i] = i < 4 ? uint8_t("wxyz"[i]) : 0;
    change.Put16(cb::kChecksum, 0x4142);  // what the checksum field holds: ignored after the terminator
    host.Open(change);
    EXPECT_EQ(host.Text(5, 100), "OKPWD");
    EXPECT_EQ(host.state.password, "wxyz");
}

}  // namespace
}  // namespace veldrix::test
