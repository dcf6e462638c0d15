#include "sim/SimCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <vector>

#include "code/Fields.h"
#include "code/HexFile.h"
#include "seams/Files.h"

namespace veldrix::sim {

namespace {

// The image a HEX file describes, up to its highest address.
bool ReadHexImage(const std::string& path, std::vector<uint8_t>& image, std::string& error) {
    std::string text;
    std::vector<uint8_t> buffer(0x100000, 0xFF);
    uint32_t end = 0;
    if (!ReadFileBytes(path, text) || ParseHexText(text, buffer.data(), end) != HexStatus::Ok) {
        error = "cannot load HEX file " + path;
        return false;
    }
    image.assign(buffer.begin(), buffer.begin() + end);
    return true;
}

bool Fail(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}


bool ParseHex(std::string text, uint32_t& value) {
    if (text.size() > 2 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)) text = text.substr(2);
    if (text.empty() || text.size() > 8) return false;
    value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 + uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    return true;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) return ParseHex(text, value);
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + uint32_t(c - '0');
    }
    return true;
}

bool ParseBytes(const std::vector<std::string>& words, size_t from, std::vector<uint8_t>& bytes) {
    std::string digits;
    for (size_t i = from; i < words.size(); ++i) digits += words[i];
    if (digits.empty() || digits.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        uint32_t v;
        if (!ParseHex(digits.substr(i, 2), v)) return false;
        bytes.push_back(uint8_t(v));
    }
    return true;
}

// Compares bytes with what a store holds from address on; names the first difference.
bool ExpectBytes(const char* what, const std::vector<uint8_t>& store, uint32_t address,
                 const std::vector<uint8_t>& want, std::string& error) {
    for (size_t i = 0; i < want.size(); ++i) {
        uint64_t at = uint64_t(address) + i;
        if (at >= store.size()) {
            error = std::string(what) + " has no byte at " + Hex(uint32_t(at), 5);
            return false;
        }
        if (store[at] != want[i]) {
            error = std::string(what) + " byte at " + Hex(uint32_t(at), 5) + " is " + Hex(store[at], 2) +
                    ", expected " + Hex(want[i], 2);
            return false;
        }
    }
    return true;
}

bool ParseFault(const std::vector<std::string>& w, Fault& fault, std::string& error) {
    const char* usage = "usage: fault ev|noreply|short|garbage|busy|badsum|stop|refuse|none [OPCODE|any [STEP]] [once]";
    std::vector<std::string> args(w.begin() + 1, w.end());
    if (!args.empty() && Lower(args.back()) == "once") {
        fault.once = true;
        args.pop_back();
    }
    if (args.empty() || args.size() > 3) return Fail(error, usage);
    auto kind = FaultKindNamed(Lower(args[0]));
    if (!kind) return Fail(error, "unknown fault " + args[0]);
    fault.kind = *kind;
    if (args.size() >= 2 && Lower(args[1]) != "any") {
        uint32_t code;
        if (!ParseNumber(args[1], code) || code > 63) return Fail(error, usage);
        fault.opCode = int(code);
    }
    if (args.size() == 3) {
        auto step = FaultStepNamed(Lower(args[2]));
        if (!step) return Fail(error, "unknown fault step " + args[2]);
        fault.step = *step;
    }
    return true;
}

bool LoadChip(DeviceState& state, const std::vector<std::string>& w, std::string& error) {
    const char* usage = "usage: chip otp|mtp [blank|FILE] [ROMSIZE] | chip none";
    if (w.size() == 2 && Lower(w[1]) == "none") {
        state.chip = Chip{};
        return true;
    }
    if (w.size() < 2 || w.size() > 4) return Fail(error, usage);
    std::string kind = Lower(w[1]);
    if (kind != "otp" && kind != "mtp") return Fail(error, usage);
    uint32_t romSize = kDefaultRomSize;
    if (w.size() == 4 && (!ParseHex(w[3], romSize) || romSize == 0 || romSize > kMemorySize))
        return Fail(error, usage);
    Chip chip = Chip::Blank(kind == "mtp" ? ChipKind::Mtp : ChipKind::Otp, romSize);
    if (w.size() >= 3 && Lower(w[2]) != "blank") {
        const std::string& path = w[2];
        std::vector<uint8_t> image;
        std::string ext = path.size() >= 4 ? Lower(path.substr(path.size() - 4)) : "";
        if (ext == ".hex") {
            if (!ReadHexImage(path, image, error)) return false;
        } else {
            std::string bytes;
            if (!ReadFileBytes(path, bytes)) return Fail(error, "cannot read " + path);
            image.assign(bytes.begin(), bytes.end());
        }
        if (image.size() > romSize) return Fail(error, path + " does not fit a ROM of " + Hex(romSize, 5) + " bytes");
        std::copy(image.begin(), image.end(), chip.cells.begin());
    }
    state.chip = std::move(chip);
    return true;
}

bool ExpectBlock(DeviceState& state, const std::vector<std::string>& w, std::string& error) {
    const char* usage = "usage: expect-block N NAME CHIP CHECKSUM | expect-block N none";
    uint32_t number;
    if (w.size() < 3 || !ParseNumber(w[1], number)) return Fail(error, usage);
    DirectoryBlock* block = state.Block(int(number));
    if (!block) return Fail(error, usage);
    std::string label = "block " + std::to_string(number);
    if (w.size() == 3 && Lower(w[2]) == "none") {
        if (block->holdsFile) return Fail(error, label + " holds the file \"" + block->FileName() + "\"");
        return true;
    }
    uint32_t checksum;
    if (w.size() != 5 || !ParseHex(w[4], checksum)) return Fail(error, usage);
    if (!block->holdsFile) return Fail(error, label + " holds no file");
    if (block->FileName() != w[2])
        return Fail(error, label + " file name is \"" + block->FileName() + "\", expected \"" + w[2] + "\"");
    if (block->ChipName() != w[3])
        return Fail(error, label + " chip name is \"" + block->ChipName() + "\", expected \"" + w[3] + "\"");
    if (block->Checksum() != checksum)
        return Fail(error, label + " checksum is " + Hex(block->Checksum(), 4) + ", expected " + Hex(checksum, 4));
    return true;
}

bool ExpectId(DeviceState& state, const std::vector<std::string>& w, std::string& error) {
    uint32_t address, value;
    if (w.size() != 3 || !ParseHex(w[1], address) || !ParseNumber(w[2], value))
        return Fail(error, "usage: expect-id ADDR VALUE");
    const Chip& chip = state.chip;
    if (!chip.present) return Fail(error, "no chip in the socket");
    if (uint64_t(address) + 2 >= chip.RomSize()) return Fail(error, "ID address " + Hex(address, 5) + " is outside the ROM");
    uint32_t have = uint32_t(chip.cells[address]) << 16 | uint32_t(chip.cells[address + 1]) << 8 | chip.cells[address + 2];
    if (have != value)
        return Fail(error, "ID code at " + Hex(address, 5) + " is " + std::to_string(have) + ", expected " +
                       std::to_string(value));
    return true;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (!words.empty() && words[0] == "sim") words.erase(words.begin());
    return words;
}

}  // namespace

bool RunSimCommand(DeviceState& state, SimAdapters& adapters, const std::string& line, std::string& output,
                   std::string& error) {
    output.clear();
    error.clear();
    std::vector<std::string> w = Words(line);
    if (w.empty()) return Fail(error, "usage: sim COMMAND");
    std::string verb = Lower(w[0]);
    std::lock_guard lock(state.mutex);

    if (verb == "unplug" || verb == "plug" || verb == "off" || verb == "on" || verb == "lock" || verb == "unlock") {
        if (w.size() != 1) return Fail(error, "usage: " + verb + " takes no argument");
        if (verb == "off" || verb == "on") {
            state.powered = verb == "on";
            return true;
        }
        if (verb == "lock" || verb == "unlock") {
            state.locked = verb == "lock";
            return true;
        }
        bool found = false;
        for (SimAdapter& a : adapters.adapters)
            if (a.hasProgrammer) {
                a.plugged = verb == "plug";
                found = true;
            }
        if (!found) return Fail(error, "usage: " + verb + " needs an adapter with the programmer behind it");
        return true;
    }
    if (verb == "password") {
        if (w.size() != 2 || w[1].size() > 8) return Fail(error, "usage: password TEXT (at most 8 characters)");
        state.password = w[1];
        return true;
    }
    if (verb == "id") {
        if (w.size() != 2 || w[1].size() != 8) return Fail(error, "usage: id XXXXXXXX (8 characters)");
        state.identifier = w[1];
        return true;
    }
    if (verb == "fault") {
        if (w.size() == 2 && Lower(w[1]) == "none") {
            state.ClearFaults();
            return true;
        }
        Fault fault;
        if (!ParseFault(w, fault, error)) return false;
        state.Arm(fault);
        return true;
    }
    if (verb == "vary") {
        const char* usage = "usage: vary ack|status|tokens|progress|nofile|slow|pauses|busy|all|none ...";
        if (w.size() < 2) return Fail(error, usage);
        // All words or none: a bad one leaves the variations as they were.
        Variations vary = state.vary;
        for (size_t i = 1; i < w.size(); ++i) {
            std::string word = Lower(w[i]);
            if (word == "all" || word == "none") {
                vary.SetAll(word == "all");
            } else if (bool* flag = vary.Named(word)) {
                *flag = true;
            } else {
                return Fail(error, usage);
            }
        }
        state.vary = vary;
        return true;
    }
    if (verb == "chip") return LoadChip(state, w, error);
    if (verb == "expect-chip" || verb == "expect-memory") {
        uint32_t address;
        std::vector<uint8_t> bytes;
        if (w.size() < 3 || !ParseHex(w[1], address) || !ParseBytes(w, 2, bytes))
            return Fail(error, "usage: " + verb + " ADDR HEXBYTES");
        if (verb == "expect-memory") return ExpectBytes("memory", state.memory, address, bytes, error);
        if (!state.chip.present) return Fail(error, "no chip in the socket");
        return ExpectBytes("chip", state.chip.cells, address, bytes, error);
    }
    if (verb == "expect-block") return ExpectBlock(state, w, error);
    if (verb == "expect-id") return ExpectId(state, w, error);
    if (verb == "log") {
        if (w.size() == 2 && Lower(w[1]) == "clear") {
            state.log.clear();
            return true;
        }
        if (w.size() != 1) return Fail(error, "usage: log [clear]");
        for (const LogEntry& e : state.log) {
            if (!output.empty()) output += '\n';
            output += "op " + std::to_string(e.opCode) + " block " + std::to_string(e.block) + " " + Hex(e.start, 5) +
                      "-" + Hex(e.end, 5);
        }
        return true;
    }
    return Fail(error, "unknown sim command " + w[0]);
}

}  // namespace veldrix::sim
