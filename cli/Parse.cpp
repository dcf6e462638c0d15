#include <algorithm>
#include <cctype>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/Options.h"
#include "cli/Output.h"

namespace veldrix::cli {

namespace {

bool HexValue(const std::string& text, size_t maxDigits, uint32_t& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 + uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(c) - 'A' + 10);
    }
    return true;
}

bool DecValue(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8) return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + uint32_t(c - '0');
    }
    return true;
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, ':')) parts.push_back(part);
    if (!text.empty() && text.back() == ':') parts.push_back("");
    return parts;
}

// ADDR:START[:END]: hex address, decimal first and last ID codes.
std::string ParseId(const std::string& text, IdRange& id) {
    auto parts = SplitColons(text);
    const char* bad = "--id 应为 地址:起始值[:终止值], 地址为十六进制, 起始值和终止值为十进制";
    if (parts.size() < 2 || parts.size() > 3) return bad;
    uint32_t first = 0, last = 0;
    if (!HexValue(parts[0], 5, id.address) || !DecValue(parts[1], first)) return bad;
    if (first < 1 || first > 0xFFFFFF) return "ID码起始值必须在1到16777215之间";
    id.first = first;
    if (parts.size() == 3) {
        if (!DecValue(parts[2], last) || last > 0xFFFFFF) return bad;
        if (last < first) return "ID码终止值不能小于起始值";
        id.last = last;
    }
    return {};
}

std::string ParseRange(const std::string& text, std::pair<uint32_t, uint32_t>& range) {
    auto parts = SplitColons(text);
    if (parts.size() != 2 || !HexValue(parts[0], 4, range.first) || !HexValue(parts[1], 4, range.second))
        return "--range 应为 起始地址:终止地址 (十六进制, 至多4位)";
    if (range.first > range.second) return "起始地址不能大于终止地址";
    return {};
}

void ChineseLabels(CLI::App& app) {
    auto f = app.get_formatter();
    f->label("Usage", "用法");
    f->label("Positionals", "参数");
    f->label("Options", "选项");
    f->label("Subcommands", "子命令");
    f->label("SUBCOMMAND", "子命令");
    f->label("SUBCOMMANDS", "子命令");
    f->label("OPTIONS", "选项");
    f->label("REQUIRED", "必需");
    f->label("TEXT", "文本");
    f->label("INT", "整数");
    f->label("UINT", "整数");
    f->label("Excludes", "不可与之同用");
    f->column_width(34);
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    Options& o = result.options;
    CLI::App app{"VELDRIX 编程器命令行: 与窗口程序同一内核, 每次调用完成一项操作", "veldrix-cli"};
    ChineseLabels(app);
    app.option_defaults()->group("选项");
    app.set_help_flag("-h,--help", "显示帮助");
    app.require_subcommand(1, 1);

    std::string idText, rangeText;
    auto* where = "编程器";
    app.add_option("--port", o.ports, "编程器端口 (可多次给出, 各编程器同时运行)")->group(where);
    app.add_flag("--sim", o.sim, "使用进程内的模拟编程器 (虚拟时间)")->group(where);
    app.add_option("--sim-units", o.simUnits, "模拟编程器的数量")->check(CLI::Range(1, 64))->group(where);
    app.add_option("--sim-do", o.simDo, "操作前对模拟编程器执行的命令, [N:]命令 (如 \"2:fault noreply any\")")
        ->group(where);
    app.add_option("--settings", o.settingsFile, "设置文件 (Linux; 默认 ~/.config/veldrix/settings)")->group(where);
    app.add_option("--install-dir", o.installDir, "含 samlist.txt 的安装目录")->group(where);

    auto* window = "编程选项 (默认与窗口程序相同)";
    app.add_option("--chip", o.chip, "芯片型号")->group(window);
    app.add_option("--type", o.chipType, "芯片类型")->check(CLI::IsMember({"otp", "mtp"}))->group(window);
    app.add_option("--vpp", o.vpp, "Vpp 电压")->check(CLI::IsMember({"12", "11", "vcc"}))->group(window);
    app.add_option("--vdd", o.vdd, "Vdd 电压")->check(CLI::IsMember({"5", "3.3"}))->group(window);
    app.add_option("--speed", o.speed, "通信速度")->check(CLI::IsMember({"full", "medium", "low"}))->group(window);
    // Each box has a pair of flags; the later one given wins.
    auto both = [&](const std::string& name, int& into, const std::string& text) {
        app.add_flag_callback("--" + name, [&into] { into = 1; }, text)->group(window);
        app.add_flag_callback("--no-" + name, [&into] { into = -1; }, "关闭: " + text)->group(window);
    };
    both("debug", o.debug, "调试模式");
    both("blank", o.blank, "自动编程: 空检查");
    both("verify", o.verify, "自动编程: 自动校验");
    both("read-protect", o.readProtect, "自动编程: 自动读保护");
    both("smart", o.smart, "自动编程: 使能SMART");
    both("ldc", o.ldc, "自动编程: LDC保护");
    both("hw-protect", o.hwProtect, "自动编程: 硬件写保护");
    app.add_option("--id", idText, "自动ID码增量: 地址:起始值[:终止值]")->group(window);
    app.add_option("--range", rangeText, "编程地址范围: 起始:终止 (十六进制)")->group(window);
    app.add_flag("--no-download", o.noDownload, "代码已在编程内存中: 只核对检查和, 不下载")->group(window);

    auto* how = "运行方式";
    app.add_flag("-y,--yes", o.yes, "对窗口程序会提出的问题回答[是]")->group(how);
    app.add_flag("--json", o.json, "每个事件输出一行 JSON")->group(how);
    app.add_flag("-v,--verbose", o.verbose, "输出状态栏的每次变化")->group(how);
    app.add_option("--password-file", o.passwordFile, "操作密码所在的文件 (第一行)")->group(how);
    app.add_option("--new-password-file", o.newPasswordFile, "新密码所在的文件 (password 命令)")->group(how);
    app.add_option("--log-dir", o.logDir, "生产记录文件夹")->group(how);

    auto sub = [&](const char* name, const char* text) {
        CLI::App* s = app.add_subcommand(name, text);
        s->group("子命令");
        s->fallthrough();
        s->set_help_flag("-h,--help", "显示帮助");
        s->callback([&o, name] { o.command = name; });
        return s;
    };
    sub("ports", "列出USB转串口适配器及应答的编程器");
    sub("info", "读取编程器内置软件信息");
    sub("load", "检查代码文件 (不连接编程器)")->add_option("FILE", o.file, "代码文件")->required();
    sub("download", "下载代码文件到编程内存")->add_option("FILE", o.file, "代码文件")->required();
    sub("program", "编程芯片 (给出文件时先下载)")->add_option("FILE", o.file, "代码文件");
    sub("verify", "校验芯片 (给出文件时先下载)")->add_option("FILE", o.file, "代码文件");
    sub("blank", "芯片空检查");
    auto* checksum = sub("checksum", "芯片检查和, 或编程内存检查和与文件核对");
    checksum->add_option("WHAT", o.what, "chip 或 memory")->required()->check(CLI::IsMember({"chip", "memory"}));
    checksum->add_option("FILE", o.file, "代码文件 (memory)");
    sub("erase", "擦除MTP芯片");
    sub("protect", "保护操作")
        ->add_option("WHAT", o.what, "read, ldc, hw 或 smart")
        ->required()
        ->check(CLI::IsMember({"read", "ldc", "hw", "smart"}));
    sub("read", "读取编程内存并保存为HEX文件")->add_option("FILE", o.file, "HEX文件")->required();
    auto* autoCmd = sub("auto", "自动编程 (给出文件时先下载)");
    autoCmd->add_option("FILE", o.file, "代码文件");
    autoCmd->add_flag("--repeat", o.repeat, "逐片编程: 每片之间等待回车或标准输入的一行, 计数保持");
    auto* offline = sub("offline", "编程器内的脱机文件");
    offline->add_option("WHAT", o.what, "list, info, make, delete 或 load")
        ->required()
        ->check(CLI::IsMember({"list", "info", "make", "delete", "load"}));
    offline->add_option("N", o.block, "目录块 1-15")->check(CLI::Range(1, 15));
    offline->add_option("FILE", o.file, "代码文件 (make)");
    sub("counter", "设置脱机文件的计数器 (--id 地址:起始值:终止值)")
        ->add_option("N", o.block, "目录块 1-15")
        ->required()
        ->check(CLI::Range(1, 15));
    sub("password", "修改操作密码");
    sub("lock", "锁定编程器");
    sub("unlock", "解除编程器锁定");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out, err;
        int code = app.exit(e, out, err);
        result.message = out.str() + err.str();
        result.exit = code == 0 ? kExitOk : kExitUsage;
        return result;
    }

    auto usage = [&](const std::string& text) {
        result.message = "veldrix-cli: " + text + "\n";
        result.exit = kExitUsage;
        return result;
    };
    if (!idText.empty()) {
        IdRange id;
        if (auto error = ParseId(idText, id); !error.empty()) return usage(error);
        o.id = id;
    }
    if (!rangeText.empty()) {
        std::pair<uint32_t, uint32_t> range;
        if (auto error = ParseRange(rangeText, range); !error.empty()) return usage(error);
        o.range = range;
    }
    if (o.simUnits > 0) o.sim = true;
    if (o.command == "offline" && o.what != "list" && o.block == 0) return usage("offline " + o.what + " 需要目录块号 N");
    if (o.command == "offline" && o.what != "make" && !o.file.empty()) return usage("只有 offline make 需要代码文件");
    if (o.command == "checksum" && o.what == "memory" && o.file.empty())
        return usage("checksum memory 需要代码文件, 以核对编程内存");
    if (o.command == "counter" && (!o.id || !o.id->last)) return usage("counter 需要 --id 地址:起始值:终止值");
    if (o.repeat && o.command != "auto") return usage("--repeat 只用于 auto");
    if (o.noDownload && o.file.empty()) return usage("--no-download 需要代码文件, 以核对编程内存");
    std::vector<std::string> ports = o.ports;
    std::sort(ports.begin(), ports.end());
    if (std::adjacent_find(ports.begin(), ports.end()) != ports.end()) return usage("同一端口给出了两次");
    return result;
}

}  // namespace veldrix::cli
