#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

#include "cli/Help.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "cli/Subcommands.h"
#include "cli/Text.h"

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

// A value out of a fixed set; the message names the set.
CLI::Validator OneOf(std::vector<std::string> allowed) {
    return CLI::Validator(
        [allowed](std::string& value) -> std::string {
            if (std::find(allowed.begin(), allowed.end(), value) != allowed.end()) return {};
            std::string text = "不能是 " + value + ", 应为 " + OrList(allowed);
            if (auto near = Nearest(value, allowed, 1); !near.empty()) text += " (是否要用 " + near[0] + "?)";
            return text;
        },
        "");
}

// A value as `chips` prints it is taken too: any case ("OTP"), a voltage
// with its unit ("3V", "5V"), the 3 volts of the list as 3.3.
CLI::Validator AsListed(bool voltage) {
    return CLI::Validator(
        [voltage](std::string& value) -> std::string {
            for (char& c : value) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (voltage && value.size() > 1 && value.back() == 'v') value.pop_back();
            if (voltage && value == "3") value = "3.3";
            return {};
        },
        "");
}

// A whole number in [low, high]; the option keeps its text and is read later.
CLI::Validator Within(int low, int high) {
    return CLI::Validator(
        [low, high](std::string& value) -> std::string {
            uint32_t n = 0;
            if (DecValue(value, n) && int(n) >= low && int(n) <= high) return {};
            return "应为 " + std::to_string(low) + " 到 " + std::to_string(high) + " 之间的整数, 不能是 " + value;
        },
        "");
}

struct Parser {
    CLI::App app{"VELDRIX 编程器命令行: 与窗口程序同一内核, 每次调用完成一项操作", "veldrix-cli"};
    HelpModel help;
    std::string idText, rangeText, simUnitsText, blockText, dbWaitText;
    std::vector<std::string> yesTo;  // --yes: "*" for every question, else names
    bool version = false;
};

// The subcommands an option serves (help lists it under them).
const std::vector<std::string> kLinked = {"ports", "info", "download", "program", "verify", "blank", "checksum", "erase",
                                          "protect", "read", "auto", "offline", "counter", "password", "lock", "unlock"};
const std::vector<std::string> kWindow = {"load", "download", "program", "verify", "blank", "checksum",
                                          "erase", "protect", "read", "auto", "offline"};
const std::vector<std::string> kAsking = {"load", "download", "program", "verify", "blank", "checksum", "erase", "protect",
                                          "read", "auto", "offline", "counter", "password", "lock", "unlock"};

// An argument of a subcommand's row, where the parse puts it.
void AddArgument(CLI::App& sub, const SubArgument& a, Parser& p, Options& o) {
    CLI::Option* option = nullptr;
    switch (a.kind) {
    case SubArgument::Kind::What: {
        std::vector<std::string> words;
        for (const SubWord& w : a.words) words.push_back(w.word);
        option = sub.add_option("WHAT", o.what, OrList(words))->type_name("")->check(OneOf(words));
        break;
    }
    case SubArgument::Kind::Block:
        option = sub.add_option("N", p.blockText, a.help)->type_name("")->check(Within(1, 15));
        break;
    case SubArgument::Kind::File: option = sub.add_option("FILE", o.file, a.help)->type_name(""); break;
    case SubArgument::Kind::Repeat: option = sub.add_flag("--repeat", o.repeat, a.help); break;
    }
    if (a.required) option->required();
}

void Build(Parser& p, Options& o) {
    CLI::App& app = p.app;
    app.set_help_flag("-h,--help", "显示帮助");
    app.add_flag("--version", p.version, "显示版本");
    auto serves = [&](CLI::Option* option, const std::vector<std::string>& subs) {
        p.help.serves[option] = subs;
        return option;
    };

    auto* where = "编程器";
    serves(app.add_option("--port", o.ports, "编程器端口 (可多次给出, 各编程器同时运行)")->type_name("端口")->group(where), kLinked);
    serves(app.add_flag("--sim", o.sim, "使用进程内的模拟编程器 (虚拟时间)")->group(where), kLinked);
    serves(app.add_option("--sim-units", p.simUnitsText, "模拟编程器的数量 (1-64)")->type_name("数量")
               ->check(Within(1, 64))->group(where), kLinked);
    serves(app.add_option("--sim-do", o.simDo, "操作前对模拟编程器执行的命令, [N:]命令 (如 \"2:fault noreply any\")")
               ->type_name("命令")->group(where), kLinked);
    app.add_option("--settings", o.settingsFile, "设置文件 (Linux; 默认 ~/.config/veldrix/settings)")
        ->type_name("文件")->group(where);
    app.add_option("--install-dir", o.installDir, "含 samlist.txt 的安装目录")->type_name("目录")->group(where);

    auto* window = "编程选项 (默认与窗口程序相同)";
    serves(app.add_option("--chip", o.chip, "芯片型号 (chips 列出全部)")->type_name("型号")->group(window), kWindow);
    serves(app.add_option("--type", o.chipType, "芯片类型: otp 或 mtp")->type_name("类型")
               ->transform(AsListed(false))->check(OneOf({"otp", "mtp"}))
               ->group(window), kWindow);
    serves(app.add_option("--vpp", o.vpp, "Vpp 电压: 12, 11 或 vcc")->type_name("电压")->transform(AsListed(true))
               ->check(OneOf({"12", "11", "vcc"}))
               ->group(window), kWindow);
    serves(app.add_option("--vdd", o.vdd, "Vdd 电压: 5 或 3.3")->type_name("电压")->transform(AsListed(true))
               ->check(OneOf({"5", "3.3"}))
               ->group(window), kWindow);
    serves(app.add_option("--speed", o.speed, "通信速度: full, medium 或 low")->type_name("速度")
               ->check(OneOf({"full", "medium", "low"}))->group(window), kWindow);
    // Each box has a pair of flags; the later one given wins.
    auto both = [&](const std::string& name, int& into, const std::string& text, const std::vector<std::string>& subs) {
        serves(app.add_flag_callback("--" + name, [&into] { into = 1; }, text)->group(window), subs);
        serves(app.add_flag_callback("--no-" + name, [&into] { into = -1; }, "关闭: " + text)->group(window), subs);
    };
    const std::vector<std::string> sequence = {"auto", "offline"};
    both("debug", o.debug, "调试模式", kWindow);
    both("blank", o.blank, "自动编程: 空检查", sequence);
    both("verify", o.verify, "自动编程: 自动校验", sequence);
    both("read-protect", o.readProtect, "自动编程: 自动读保护", sequence);
    both("smart", o.smart, "自动编程: 使能SMART", sequence);
    both("ldc", o.ldc, "自动编程: LDC保护", sequence);
    both("hw-protect", o.hwProtect, "自动编程: 硬件写保护", sequence);
    serves(app.add_option("--id", p.idText, "自动ID码增量: 地址:起始值[:终止值]")->type_name("ID")->group(window),
           {"auto", "offline", "counter"});
    serves(app.add_option("--range", p.rangeText, "编程地址范围: 起始:终止 (十六进制); 下载后按该范围核对编程内存")
               ->type_name("范围")->group(window),
           {"load", "download", "program", "verify", "blank", "checksum", "read", "auto", "offline"});
    serves(app.add_flag("--no-download", o.noDownload, "代码已在编程内存中: 只核对检查和, 不下载")->group(window),
           {"program", "verify", "auto", "offline"});

    auto* how = "运行方式";
    serves(app.add_flag("-y,--yes{*}", p.yesTo, "对窗口程序会提出的问题回答[是]; --yes=名称[,名称] 只回答这些问题 (见 README)")
               ->group(how),
           kAsking);
    // Code that would not all be programmed is no question: --yes never passes it.
    serves(app.add_flag("--allow-lost-code", o.allowLostCode,
                        "允许使用有不会被编程的数据的代码文件 (超出FFFFH的数据, 被忽略的行)")->group(how),
           {"load", "download", "program", "verify", "checksum", "auto", "offline"});
    app.add_flag("--json", o.json, "每个事件输出一行 JSON")->group(how);
    app.add_flag("-q,--quiet", o.quiet, "只输出结果和错误")->group(how);
    app.add_flag("-v,--verbose", o.verbose, "输出状态栏的每次变化")->group(how);
    serves(app.add_option("--password-file", o.passwordFile, "操作密码所在的文件 (第一行)")->type_name("文件")->group(how),
           {"offline", "counter", "password", "lock", "unlock"});
    serves(app.add_option("--new-password-file", o.newPasswordFile, "新密码所在的文件 (password 命令)")
               ->type_name("文件")->group(how),
           {"password"});
    serves(app.add_option("--trace", o.trace, "把串口上的每次调用和每个字节记入该文件 (多台编程器时加 .2, .3 ...)")
               ->type_name("文件")->group(how),
           std::vector<std::string>(kLinked.begin() + 1, kLinked.end()));  // all but ports
    serves(app.add_option("--log-dir", o.logDir, "生产记录文件夹")->type_name("目录")->group(how), {"auto", "report"});
    serves(app.add_option("--records-dsn", o.recordsDsn, "生产记录数据库的ODBC数据源名称")->type_name("名称")->group(how),
           {"auto", "report"});
    serves(app.add_option("--records-odbc-file", o.recordsOdbcFile, "生产记录数据库的ODBC连接字符串所在的文件 (第一行)")
               ->type_name("文件")->group(how),
           {"auto", "report"});
    serves(app.add_option("--db-wait", p.dbWaitText, "数据库无法连接时等待的秒数, 每2秒重试 (默认60)")
               ->type_name("秒")->check(Within(0, 86400))->group(how),
           {"auto"});
    serves(app.add_option("--from", o.from, "报表的起始日期 YYYY-MM-DD (含)")->type_name("日期")->group(how), {"report"});
    serves(app.add_option("--to", o.to, "报表的终止日期 YYYY-MM-DD (含)")->type_name("日期")->group(how), {"report"});
    serves(app.add_option("-o,--output", o.output, "报表写入的 HTML 文件")->type_name("文件")->group(how), {"report"});
    serves(app.add_option("--format", o.format, "read 保存的格式: hex 或 bin (默认按文件扩展名)")->type_name("格式")
               ->check(OneOf({"hex", "bin"}))->group(how),
           {"read"});

    for (const Subcommand& row : Subcommands()) {
        CLI::App* s = app.add_subcommand(row.name, row.help);
        s->fallthrough();
        s->set_help_flag("-h,--help", "显示帮助");
        s->callback([&o, name = row.name] { o.command = name; });
        for (const SubArgument& a : row.arguments) AddArgument(*s, a, p, o);
    }
    app.require_subcommand(0, 1);
}

std::vector<std::string> SubcommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* s : app.get_subcommands([](const CLI::App*) { return true; })) names.push_back(s->get_name());
    return names;
}

// Every long and short option any part of the command line knows.
std::vector<std::string> OptionNames(const CLI::App& app) {
    std::vector<std::string> names;
    auto add = [&](const CLI::App& a) {
        for (const CLI::Option* opt : a.get_options()) {
            for (const std::string& l : opt->get_lnames()) names.push_back("--" + l);
            for (const std::string& s : opt->get_snames()) names.push_back("-" + s);
        }
    };
    add(app);
    for (const CLI::App* s : app.get_subcommands([](const CLI::App*) { return true; })) add(*s);
    return names;
}

const CLI::Option* FindOption(const CLI::App& app, const CLI::App* sub, const std::string& name) {
    if (sub)
        if (const CLI::Option* o = sub->get_option_no_throw(name)) return o;
    return app.get_option_no_throw(name);
}

std::string Suggest(const std::string& word, const std::vector<std::string>& names) {
    auto near = Nearest(word, names);
    return near.empty() ? std::string() : ", 是否要用 " + OrList(near) + "?";
}

struct Scan {
    std::string error;
    CLI::App* sub = nullptr;
    bool help = false;
};

// What CLI11 would word in English, found first in the program's own words:
// an unknown option or subcommand (with the nearest names), an option
// without its value, help asked for.
Scan ScanArguments(Parser& p, const std::vector<std::string>& args) {
    Scan scan;
    CLI::App& app = p.app;
    const auto options = OptionNames(app);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") break;
        if (a.size() > 1 && a[0] == '-') {
            bool isLong = a.rfind("--", 0) == 0;
            std::string name = isLong ? a.substr(0, a.find('=')) : a.substr(0, 2);
            const CLI::Option* opt = FindOption(app, scan.sub, name);
            if (!opt) {
                std::vector<std::string> owners;
                for (const CLI::App* s : app.get_subcommands([](const CLI::App*) { return true; }))
                    if (s->get_option_no_throw(name)) owners.push_back(s->get_name());
                scan.error = owners.empty() ? "未知选项 " + name + Suggest(name, options)
                                            : "选项 " + name + " 只用于 " + OrList(owners);
                return scan;
            }
            if (name == "-h" || name == "--help") scan.help = true;
            bool inlineValue = isLong ? a.find('=') != std::string::npos : a.size() > 2;
            if (opt->get_items_expected_min() > 0 && !inlineValue) {
                if (i + 1 >= args.size()) {
                    scan.error = "选项 " + name + " 需要一个值";
                    return scan;
                }
                ++i;
            }
            continue;
        }
        if (scan.sub) continue;  // the subcommand's own arguments
        for (CLI::App* s : app.get_subcommands([](const CLI::App*) { return true; }))
            if (s->get_name() == a) scan.sub = s;
        if (!scan.sub) {
            scan.error = "未知子命令 " + a + Suggest(a, SubcommandNames(app));
            return scan;
        }
    }
    return scan;
}

// A CLI11 error that the scan above did not forestall, in the program's words.
std::string Worded(const CLI::ParseError& e, CLI::App& app) {
    const std::string what = e.what();
    if (dynamic_cast<const CLI::ValidationError*>(&e)) return what;  // "NAME: " + our validator's text
    if (dynamic_cast<const CLI::RequiredError*>(&e)) {
        for (CLI::App* s : app.get_subcommands())
            for (const CLI::Option* opt : s->get_options())
                if (opt->get_required() && opt->count() == 0) return s->get_name() + " 需要参数 " + opt->get_name();
        return "缺少参数";
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
        size_t colon = what.rfind(": ");
        return "多余的参数" + (colon == std::string::npos ? std::string() : ": " + what.substr(colon + 2));
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) return "选项的值的个数不对: " + what;
    return "命令行有误: " + what;
}

}  // namespace

CommandLineNames KnownNames() {
    Options o;
    Parser p;
    Build(p, o);
    return {SubcommandNames(p.app), OptionNames(p.app)};
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    Options& o = result.options;
    Parser p;
    Build(p, o);
    auto usage = [&](const std::string& text) {
        result.message = "veldrix-cli: " + text + "\n";
        if (text.find("--help") == std::string::npos) result.message += "(veldrix-cli --help 查看用法)\n";
        result.exit = kExitUsage;
        return result;
    };

    Scan scan = ScanArguments(p, args);
    if (!scan.error.empty()) return usage(scan.error);
    if (scan.help) {
        result.message = HelpText(p.app, scan.sub, p.help);
        result.exit = kExitOk;
        return result;
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        p.app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return usage(Worded(e, p.app));
    }
    if (p.version) {
        result.message = VersionText();
        result.exit = kExitOk;
        return result;
    }
    if (o.command.empty()) return usage("需要一个子命令: " + OrList(SubcommandNames(p.app)));

    for (const std::string& given : p.yesTo) {
        std::istringstream names(given);
        for (std::string name; std::getline(names, name, ',');) {
            if (name == "*") {
                o.yes = true;
                continue;
            }
            const std::vector<std::string> known(std::begin(kQuestionNames), std::end(kQuestionNames));
            if (std::find(known.begin(), known.end(), name) == known.end()) {
                auto near = Nearest(name, known, 1);
                return usage("--yes: 没有名为 " + name + " 的问题" + (near.empty() ? "" : ", 是否要用 " + near[0] + "?"));
            }
            o.yesTo.push_back(name);
        }
    }
    if (!p.idText.empty()) {
        IdRange id;
        if (auto error = ParseId(p.idText, id); !error.empty()) return usage(error);
        o.id = id;
    }
    if (!p.rangeText.empty()) {
        std::pair<uint32_t, uint32_t> range;
        if (auto error = ParseRange(p.rangeText, range); !error.empty()) return usage(error);
        o.range = range;
    }
    if (!p.simUnitsText.empty()) o.simUnits = std::stoi(p.simUnitsText);
    if (!p.blockText.empty()) o.block = std::stoi(p.blockText);
    if (!p.dbWaitText.empty()) o.dbWait = std::stoi(p.dbWaitText);
    if (int(!o.logDir.empty()) + int(!o.recordsDsn.empty()) + int(!o.recordsOdbcFile.empty()) > 1)
        return usage("--log-dir, --records-dsn 和 --records-odbc-file 只能给出一个");
    if (o.simUnits > 0) o.sim = true;
    if (o.quiet && o.verbose) return usage("-q 与 -v 不能同时使用");
    if (const Subcommand* sub = FindSubcommand(o.command); sub->check)
        if (std::string error = sub->check(o); !error.empty()) return usage(error);
    if (o.noDownload && o.file.empty()) return usage("--no-download 需要代码文件, 以核对编程内存");
    if (!o.format.empty() && o.command != "read") return usage("--format 只用于 read");
    if (!p.dbWaitText.empty() && o.command != "auto") return usage("--db-wait 只用于 auto");
    if ((!o.recordsDsn.empty() || !o.recordsOdbcFile.empty()) && o.command != "auto" && o.command != "report")
        return usage("--records-dsn 和 --records-odbc-file 只用于 auto 和 report");
    if ((!o.from.empty() || !o.to.empty() || !o.output.empty()) && o.command != "report")
        return usage("--from, --to 和 -o 只用于 report");
    std::vector<std::string> ports = o.ports;
    std::sort(ports.begin(), ports.end());
    if (std::adjacent_find(ports.begin(), ports.end()) != ports.end()) return usage("同一端口给出了两次");
    return result;
}

}  // namespace veldrix::cli
