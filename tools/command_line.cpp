#include "tools/command_line.h"

#include <cstdio>

namespace {

constexpr char kWendleVersion[] = "1.4";

} // namespace

CommandLine::CommandLine(const std::string& name, const std::string& description,
                         std::string usage_line, const std::string& examples)
    : app(description, name), usage(std::move(usage_line)) {
    app.set_version_flag("--version", name + " (Wendle " + kWendleVersion + ")",
                         "Print the version and exit");
    app.set_help_flag("-h,--help", "Explain every option and exit");
    app.footer("Examples:\n" + examples);
}

std::optional<int> CommandLine::Parse(int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
    } catch (const CLI::ParseError& error) {
        return Fail(error.what());
    }
    return std::nullopt;
}

int CommandLine::Fail(const std::string& what) const {
    std::fprintf(stderr, "%s: %s\nusage: %s (see --help)\n", app.get_name().c_str(), what.c_str(),
                 usage.c_str());
    return kUsageError;
}
