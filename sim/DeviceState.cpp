#include "sim/DeviceState.h"

#include <algorithm>
#include <utility>

namespace veldrix::sim {

uint16_t Sum16(const uint8_t* data, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += data[i];
    return uint16_t(sum);
}

// Chip

Chip Chip::Blank(ChipKind kind, uint32_t romSize) {
    Chip chip;
    chip.present = true;
    chip.kind = kind;
    chip.cells.assign(romSize, 0xFF);
    return chip;
}

uint8_t Chip::Read(uint32_t address) const {
    if (readProtected) return 0x00;
    if (address >= RomSize()) return 0xFF;
    return weakCell == address ? uint8_t(cells[address] | 0x01) : cells[address];
}

bool Chip::Program(uint32_t address, uint8_t value) {
    if (address >= RomSize() || refusesProgramming) return false;
    uint8_t old = cells[address];
    cells[address] = uint8_t(old & value);
    return (old & value) == value;
}

void Chip::Erase() {
    std::fill(cells.begin(), cells.end(), 0xFF);
    readProtected = ldcProtected = writeProtected = smart = false;
}

// Directory blocks

uint8_t DirectoryBlock::At(uint32_t address) const {
    if (!holdsFile || address < start || address > end) return 0xFF;
    return code[address - start];
}

uint16_t DirectoryBlock::Checksum() const { return Sum16(code.data(), code.size()); }

namespace {
std::string TextField(const uint8_t* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}
void Put24(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
}  // namespace

std::string DirectoryBlock::FileName() const { return TextField(config.data(), 16); }
std::string DirectoryBlock::ChipName() const { return TextField(config.data() + 16, 10); }

std::array<uint8_t, kInfoRecordSize> DirectoryBlock::InfoRecord() const {
    std::array<uint8_t, kInfoRecordSize> r{};
    std::copy_n(config.begin(), 16, r.begin());
    std::copy_n(config.begin() + 16, 10, r.begin() + 16);  // the chip name field is wider than stored
    uint16_t sum = Checksum();
    r[32] = uint8_t(sum >> 8);
    r[33] = uint8_t(sum);
    Put24(&r[34], counterEnd);
    Put24(&r[37], idAddress);
    Put24(&r[40], counterCurrent);
    return r;
}

void DirectoryBlock::Clear() { *this = DirectoryBlock{}; }

// Timing

Timing Timing::Instant() {
    Timing t;
    t.memoryInitMs = t.blockEraseMs = t.pageWriteMs = 0;
    t.programMicrosPerByte = t.readMicrosPerByte = t.memoryMicrosPerByte = t.flashMicrosPerByte = 0;
    t.eraseMs = t.protectMs = t.recordWriteMs = t.dataDelayMs = t.replyDelayMs = 0;
    return t;
}

// Variations

bool* Variations::Named(const std::string& word) {
    if (word == "ack") return &ack;
    if (word == "status") return &status;
    if (word == "tokens") return &tokens;
    if (word == "progress") return &progress;
    if (word == "nofile") return &nofile;
    if (word == "slow") return &slow;
    if (word == "pauses") return &pauses;
    if (word == "busy") return &busy;
    return nullptr;
}

// The unit

DeviceState::DeviceState() = default;

DirectoryBlock* DeviceState::Block(int number) {
    if (number < 1 || number > kBlockCount) return nullptr;
    return &blocks[size_t(number - 1)];
}

uint64_t DeviceState::Arm(Fault fault) {
    fault.serial = nextSerial_++;
    faults.push_back(fault);
    return fault.serial;
}

bool DeviceState::Armed(uint64_t serial) const {
    return std::any_of(faults.begin(), faults.end(), [&](const Fault& f) { return f.serial == serial; });
}

uint8_t DeviceState::NextGarbage() {
    // xorshift32: the same noise on every run
    noise_ ^= noise_ << 13;
    noise_ ^= noise_ >> 17;
    noise_ ^= noise_ << 5;
    return uint8_t(noise_ >> 24);
}

namespace {

constexpr std::pair<const char*, FaultKind> kKindNames[] = {
    {"ev", FaultKind::Ev},           {"noreply", FaultKind::NoReply}, {"short", FaultKind::Short},
    {"garbage", FaultKind::Garbage}, {"busy", FaultKind::Busy},       {"badsum", FaultKind::BadSum},
    {"stop", FaultKind::Stop},       {"refuse", FaultKind::Refuse}};
constexpr std::pair<const char*, FaultStep> kStepNames[] = {
    {"any", FaultStep::Any}, {"ack", FaultStep::Ack}, {"first", FaultStep::First},
    {"progress", FaultStep::Progress}, {"final", FaultStep::Final}};

template <class T, size_t N>
const char* NameIn(const std::pair<const char*, T> (&table)[N], T value) {
    for (const auto& [name, v] : table)
        if (v == value) return name;
    return "?";
}
template <class T, size_t N>
std::optional<T> Named(const std::pair<const char*, T> (&table)[N], const std::string& name) {
    for (const auto& [n, v] : table)
        if (name == n) return v;
    return std::nullopt;
}

}  // namespace

const char* Name(FaultKind kind) { return NameIn(kKindNames, kind); }
const char* Name(FaultStep step) { return NameIn(kStepNames, step); }
std::optional<FaultKind> FaultKindNamed(const std::string& name) { return Named(kKindNames, name); }
std::optional<FaultStep> FaultStepNamed(const std::string& name) { return Named(kStepNames, name); }

}  // namespace veldrix::sim
