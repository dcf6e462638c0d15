#include "cli/ReadOut.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "code/CodeFile.h"
#include "code/Fields.h"
#include "code/HexFile.h"
#include "seams/Files.h"
#include "state/ControlIds.h"

namespace veldrix::cli {

namespace {

const char kEndOfFile[] = ":00000001FF\r\n";

// hex or bin: from --format, else from the file's ending; standard output
// takes HEX unless told.
std::string FormatFor(const Options& o, std::string& problem) {
    if (!o.format.empty()) return o.format;
    if (o.file == "-") return "hex";
    std::string ending = Ending(o.file);
    if (ending == ".hex") return "hex";
    if (ending == ".bin") return "bin";
    problem = "无法从文件名 " + o.file + " 判断格式: 请用 .hex 或 .bin 结尾, 或给出 --format hex|bin";
    return {};
}

}  // namespace

int RunRead(Unit& unit, const Options& o, UnitRecord& record) {
    AppContext& ctx = unit.Context();
    auto refuse = [&](const std::string& why) {
        unit.BeginStep();
        unit.EmitStep("read", kExitUsage, why, why);
        return kExitUsage;
    };
    const bool toStdout = o.file == "-";
    if (!toStdout)
        if (std::string why = FileWriteProblem(o.file); !why.empty()) return refuse("无法写入 " + o.file + ": " + why);
    std::string problem;
    const std::string format = FormatFor(o, problem);
    if (format.empty()) return refuse(problem);

    // The window's own save writes the HEX; it lands in a file of ours first.
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path folder = fs::temp_directory_path(ec);
    if (ec) folder = ".";
    const std::string temp =
        (folder / ("veldrix-read-" + ProcessName() + "-" + std::to_string(unit.Number()) + ".hex")).string();
    unit.Window().saveTarget = temp;
    struct Remove {
        std::string path;
        ~Remove() { RemoveFile(path); }
    } cleanup{temp};
    int exit = unit.Button(id::kMakeHex, "read", true);
    if (exit != kExitOk) {
        unit.Line(unit.Status(), Stream::Message);
        return exit;
    }

    std::string text;
    if (!ReadFileBytes(temp, text)) return refuse("无法读回临时文件 " + temp);
    const AddressRange r = ctx.programmingRange;
    const uint32_t end = std::min<uint32_t>(r.end, uint32_t(kImageSize - 1));
    std::string data;
    if (format == "hex") {
        data = text + kEndOfFile;
    } else {
        std::vector<uint8_t> image(kImageSize, 0xFF);
        uint32_t highest = 0;
        if (ParseHexText(text, image.data(), highest) != HexStatus::Ok) return refuse("临时文件 " + temp + " 有错误");
        data.assign(image.begin() + r.start, image.begin() + end + 1);
    }

    bool written = toStdout ? unit.Out().Data(data) : WriteFileReplacing(o.file, data);
    const std::string where = toStdout ? "标准输出" : o.file;
    record.extra["file"] = o.file;
    record.extra["format"] = format;
    record.extra["start"] = Hex(r.start, 4);
    record.extra["end"] = Hex(end, 4);
    record.extra["bytes"] = end - r.start + 1;
    unit.BeginStep();
    if (!written) {
        std::string why = toStdout ? std::string("写入失败") : FileWriteProblem(o.file);
        std::string line = "保存到 " + where + " 失败" + (why.empty() ? std::string() : ": " + why);
        unit.EmitStep("read", kExitUsage, line, line);
        return kExitUsage;
    }
    std::string line = "编程内存 " + Hex(r.start, 4) + "~" + Hex(end, 4) + " 已保存到 " + where +
                       (format == "hex" ? " (Intel HEX)" : " (二进制)");
    unit.EmitStep("read", kExitOk, line, line);
    return kExitOk;
}

}  // namespace veldrix::cli
