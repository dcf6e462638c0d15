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

struct Call;

// A sim command: its name, what follows it (its usage line; empty: nothing
// may), and what it does.
struct SimVerb {
    const char* name;
    const char* takes;
    bool (*run)(const Call& call);
};

// One sim line, in words, and where its results go.
struct Call {
    const SimVerb& verb;
    DeviceState& state;
    SimAdapters& adapters;
    const std::vector<std::string>& w;
    std::string& output;
    std::string& error;

    // The words after the verb are not what it takes.
    bool Usage() const {
        std::string takes = verb.takes;
        return Fail(error, "usage: " + std::string(verb.name) + (takes.empty() ? " takes no argument" : " " + takes));
    }
};

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

bool ParseFault(const Call& c, Fault& fault) {
    std::vector<std::string> args(c.w.begin() + 1, c.w.end());
    if (!args.empty() && Lower(args.back()) == "once") {
        fault.once = true;
        args.pop_back();
    }
    if (args.empty() || args.size() > 3) return c.Usage();
    auto kind = FaultKindNamed(Lower(args[0]));
    if (!kind) return Fail(c.error, "unknown fault " + args[0]);
    fault.kind = *kind;
    if (args.size() >= 2 && Lower(args[1]) != "any") {
        uint32_t code;
        if (!ParseNumber(args[1], code) || code > 63) return c.Usage();
        fault.opCode = int(code);
    }
    if (args.size() == 3) {
        auto step = FaultStepNamed(Lower(args[2]));
        if (!step) return Fail(c.error, "unknown fault step " + args[2]);
        fault.step = *step;
    }
    return true;
}

bool LoadChip(const Call& c) {
    DeviceState& state = c.state;
    const std::vector<std::string>& w = c.w;
    std::string& error = c.error;
    if (w.size() == 2 && Lower(w[1]) == "none") {
        state.chip = Chip{};
        return true;
    }
    if (w.size() < 2 || w.size() > 4) return c.Usage();
    std::string kind = Lower(w[1]);
    if (kind != "otp" && kind != "mtp") return c.Usage();
    uint32_t romSize = kDefaultRomSize;
    if (w.size() == 4 && (!ParseHex(w[3], romSize) || romSize == 0 || romSize > kMemorySize)) return c.Usage();
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

bool ExpectBlock(const Call& c) {
    const std::vector<std::string>& w = c.w;
    std::string& error = c.error;
    uint32_t number;
    if (w.size() < 3 || !ParseNumber(w[1], number)) return c.Usage();
    DirectoryBlock* block = c.state.Block(int(number));
    if (!block) return c.Usage();
    std::string label = "block " + std::to_string(number);
    if (w.size() == 3 && Lower(w[2]) == "none") {
        if (block->holdsFile) return Fail(error, label + " holds the file \"" + block->FileName() + "\"");
        return true;
    }
    uint32_t checksum;
    if (w.size() != 5 || !ParseHex(w[4], checksum)) return c.Usage();
    if (!block->holdsFile) return Fail(error, label + " holds no file");
    if (block->FileName() != w[2])
        return Fail(error, label + " file name is \"" + block->FileName() + "\", expected \"" + w[2] + "\"");
    if (block->ChipName() != w[3])
        return Fail(error, label + " chip name is \"" + block->ChipName() + "\", expected \"" + w[3] + "\"");
    if (block->Checksum() != checksum)
        return Fail(error, label + " checksum is " + Hex(block->Checksum(), 4) + ", expected " + Hex(checksum, 4));
    return true;
}

bool ExpectId(const Call& c) {
    const std::vector<std::string>& w = c.w;
    std::string& error = c.error;
    uint32_t address, value;
    if (w.size() != 3 || !ParseHex(w[1], address) || !ParseNumber(w[2], value)) return c.Usage();
    const Chip& chip = c.state.chip;
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

bool Plug(const Call& c) {
    bool found = false;
    for (SimAdapter& a : c.adapters.adapters)
        if (a.hasProgrammer) {
            a.plugged = c.verb.name == std::string("plug");
            found = true;
        }
    if (!found)
        return Fail(c.error, "usage: " + std::string(c.verb.name) + " needs an adapter with the programmer behind it");
    return true;
}

bool Vary(const Call& c) {
    if (c.w.size() < 2) return c.Usage();
    // All words or none: a bad one leaves the variations as they were.
    Variations vary = c.state.vary;
    for (size_t i = 1; i < c.w.size(); ++i) {
        std::string word = Lower(c.w[i]);
        if (word == "all" || word == "none") {
            vary.SetAll(word == "all");
        } else if (bool* flag = vary.Named(word)) {
            *flag = true;
        } else {
            return c.Usage();
        }
    }
    c.state.vary = vary;
    return true;
}

// expect-chip and expect-memory ADDR HEXBYTES.
bool ExpectStore(const Call& c) {
    uint32_t address;
    std::vector<uint8_t> bytes;
    if (c.w.size() < 3 || !ParseHex(c.w[1], address) || !ParseBytes(c.w, 2, bytes)) return c.Usage();
    if (c.verb.name == std::string("expect-memory")) return ExpectBytes("memory", c.state.memory, address, bytes, c.error);
    if (!c.state.chip.present) return Fail(c.error, "no chip in the socket");
    return ExpectBytes("chip", c.state.chip.cells, address, bytes, c.error);
}

bool Log(const Call& c) {
    if (c.w.size() == 2 && Lower(c.w[1]) == "clear") {
        c.state.log.clear();
        return true;
    }
    if (c.w.size() != 1) return c.Usage();
    for (const LogEntry& e : c.state.log) {
        if (!c.output.empty()) c.output += '\n';
        c.output += "op " + std::to_string(e.opCode) + " block " + std::to_string(e.block) + " " + Hex(e.start, 5) +
                    "-" + Hex(e.end, 5);
    }
    return true;
}

const SimVerb kVerbs[] = {
    {"unplug", "", Plug},
    {"plug", "", Plug},
    {"off", "", [](const Call& c) {
         c.state.powered = false;
         return true;
     }},
    {"on", "", [](const Call& c) {
         c.state.powered = true;
         return true;
     }},
    {"lock", "", [](const Call& c) {
         c.state.locked = true;
         return true;
     }},
    {"unlock", "", [](const Call& c) {
         c.state.locked = false;
         return true;
     }},
    {"password", "TEXT (at most 8 characters)", [](const Call& c) {
         if (c.w.size() != 2 || c.w[1].size() > 8) return c.Usage();
         c.state.password = c.w[1];
         return true;
     }},
    {"id", "XXXXXXXX (8 characters)", [](const Call& c) {
         if (c.w.size() != 2 || c.w[1].size() != 8) return c.Usage();
         c.state.identifier = c.w[1];
         return true;
     }},
    {"fault", "ev|noreply|short|garbage|busy|badsum|stop|refuse|none [OPCODE|any [STEP]] [once]", [](const Call& c) {
         if (c.w.size() == 2 && Lower(c.w[1]) == "none") {
             c.state.ClearFaults();
             return true;
         }
         Fault fault;
         if (!ParseFault(c, fault)) return false;
         c.state.Arm(fault);
         return true;
     }},
    {"vary", "ack|status|tokens|progress|nofile|slow|pauses|busy|all|none ...", Vary},
    {"chip", "otp|mtp [blank|FILE] [ROMSIZE] | chip none", LoadChip},
    {"expect-chip", "ADDR HEXBYTES", ExpectStore},
    {"expect-memory", "ADDR HEXBYTES", ExpectStore},
    {"expect-block", "N NAME CHIP CHECKSUM | expect-block N none", ExpectBlock},
    {"expect-id", "ADDR VALUE", ExpectId},
    {"log", "[clear]", Log},
};

}  // namespace

bool RunSimCommand(DeviceState& state, SimAdapters& adapters, const std::string& line, std::string& output,
                   std::string& error) {
    output.clear();
    error.clear();
    std::vector<std::string> w = Words(line);
    if (w.empty()) return Fail(error, "usage: sim COMMAND");
    std::string verb = Lower(w[0]);
    std::lock_guard lock(state.mutex);
    for (const SimVerb& v : kVerbs)
        if (verb == v.name) {
            Call call{v, state, adapters, w, output, error};
            if (*v.takes == '\0' && w.size() != 1) return call.Usage();
            return v.run(call);
        }
    return Fail(error, "unknown sim command " + w[0]);
}

}  // namespace veldrix::sim
