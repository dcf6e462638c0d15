#include "cli/Help.h"

#include <algorithm>

#include "cli/BuildInfo.h"
#include "cli/Text.h"

namespace veldrix::cli {

namespace {

constexpr size_t kLeftMax = 30;

struct Row {
    std::string left, right;
};

std::string OptionLeft(const CLI::Option& opt) {
    std::string left;
    for (const std::string& s : opt.get_snames()) left += "-" + s + ", ";
    for (const std::string& l : opt.get_lnames()) left += "--" + l + ", ";
    if (left.size() >= 2) left.resize(left.size() - 2);
    if (opt.get_items_expected_min() > 0 && !opt.get_type_name().empty()) left += " " + opt.get_type_name();
    return left;
}

// Rows in two columns: the left one as wide as its widest entry (up to a
// limit), counted in the columns a terminal gives each character.
std::string Table(const std::vector<Row>& rows) {
    size_t width = 0;
    for (const Row& r : rows)
        if (DisplayWidth(r.left) <= kLeftMax) width = std::max(width, DisplayWidth(r.left));
    std::string out;
    for (const Row& r : rows) {
        out += "  ";
        if (DisplayWidth(r.left) > width) out += r.left + "\n  " + std::string(width, ' ') + "  " + r.right + "\n";
        else out += r.left + std::string(width - DisplayWidth(r.left), ' ') + "  " + r.right + "\n";
    }
    return out;
}

bool Serves(const HelpModel& model, const CLI::Option* opt, const std::string& sub) {
    auto it = model.serves.find(opt);
    return it == model.serves.end() || std::find(it->second.begin(), it->second.end(), sub) != it->second.end();
}

// The options in their groups, in the order they were added.
std::string OptionSections(const std::vector<const CLI::Option*>& options) {
    std::vector<std::string> groups;
    for (const CLI::Option* o : options)
        if (std::find(groups.begin(), groups.end(), o->get_group()) == groups.end()) groups.push_back(o->get_group());
    std::string out;
    for (const std::string& g : groups) {
        std::vector<Row> rows;
        for (const CLI::Option* o : options)
            if (o->get_group() == g) rows.push_back({OptionLeft(*o), o->get_description()});
        out += "\n" + (g == "Options" || g == "OPTIONS" ? std::string("选项") : g) + ":\n" + Table(rows);
    }
    return out;
}

std::vector<const CLI::Option*> Named(const CLI::App& app) {
    std::vector<const CLI::Option*> out;
    for (const CLI::Option* o : app.get_options())
        if (o->nonpositional()) out.push_back(o);
    return out;
}

}  // namespace

std::string HelpText(const CLI::App& app, const CLI::App* sub, const HelpModel& model) {
    std::string out;
    if (!sub) {
        out += app.get_description() + "\n\n用法: veldrix-cli [选项] 子命令 [参数]\n\n子命令:\n";
        std::vector<Row> rows;
        for (const CLI::App* s : app.get_subcommands([](const CLI::App*) { return true; }))
            rows.push_back({s->get_name(), s->get_description()});
        out += Table(rows);
        out += OptionSections(Named(app));
        out += "\n退出状态: 0 成功, 1 芯片失败, 2 连接失败, 3 用法或文件错误, 4 编程器拒绝, 5 ID码已用完, 130 被 Ctrl-C 中断;\n"
               "多个编程器时取其中最坏的.\n"
               "veldrix-cli 子命令 --help 列出该子命令可用的选项.\n";
        return out;
    }
    const std::string name = sub->get_name();
    std::string usage = "用法: veldrix-cli [选项] " + name;
    std::vector<Row> positionals;
    for (const CLI::Option* o : sub->get_options()) {
        if (o->nonpositional()) continue;
        usage += o->get_required() ? " " + o->get_name() : " [" + o->get_name() + "]";
        positionals.push_back({o->get_name(), o->get_description()});
    }
    out += sub->get_description() + "\n\n" + usage + "\n";
    if (!positionals.empty()) out += "\n参数:\n" + Table(positionals);
    std::vector<const CLI::Option*> options;
    for (const CLI::Option* o : Named(*sub))
        if (o->get_name() != "--help") options.push_back(o);
    for (const CLI::Option* o : Named(app))
        if (o->get_name() != "--version" && Serves(model, o, name)) options.push_back(o);
    out += OptionSections(options);
    return out;
}

std::string VersionText() {
    return std::string("veldrix-cli ") + kBuildVersion + "\n提交: " + kBuildCommit + "\n构建日期: " + kBuildDate + "\n";
}

}  // namespace veldrix::cli
